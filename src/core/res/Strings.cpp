// src/core/res/Strings.cpp
#include "core/res/Strings.h"

#include <unordered_map>

#include "core/res/Cp1250.h"

namespace res {
namespace {

struct Entry {
    int id;
    const char* utf8;
};

// UTF-8 source of the table; the code page 1250 form is made once on first use.
constexpr Entry kTable[] = {
    {kStrStatusPaneUnknown, "Neznámý"},
    {kStrSocketsInitFailed, "Síťové rozhraní systému nelze inicializovat."},
    {kStrUnknownName, "Neznámý"},
    {kStrSoundsFolder, "Sounds"},
    {kStrSettingsPrompt, "Nastavit parametry.\nNastavení paremtrů."},
    {kStrTraceCodePrefix,
     "Chyba 222 !\nPoznamenejte si poslední činnost a KOD.\nKontaktujte výrobce produktu.\nKOD: "},
    {kStrAwayWav, "Away.wav"},
    {kStrLunchWav, "Lunch.wav"},
    {kStrOnlineWav, "online.wav"},
    {kStrOfflineWav, "offline.wav"},
    {kStrMessageWav, "message.wav"},
    {kStrDndWav, "DND.wav"},
    {kStrDefaultGroup, "Připojeni"},
    {kStrIsInStatus, " je ve stavu : "},
    {kStrStatusDisconnected, "Odpojen"},
    {kStrWantsAttention, "vyžaduje tvou pozornost!"},
    {kStrLastMessage, "\nPoslední správa : "},
    {kStrBellWav, "Bell.wav"},
    {kStrSmallMsgWav, "SmallMsg.wav"},
    {kStrPromptReady, "Připraven komunikovat.\nPřipraven komunikovat."},
    {kStrPromptDoNotDisturb, "Prosím nerušit.\nProsím nerušit."},
    {kStrPromptAway, "Mimo pracoviště.\nMimo pracoviště."},
    {kStrPromptAtLunch, "Teď obědvám.\nObědvám."},
    {kStrPeerDisconnectedNotice, "!Uživatel se odpojil - nelze komunikovat!"},
    {kStrPeerReconnectedNotice, "*Uživatel se znovu připojil!"},
    {kStrIsTyping, "píše zprávu."},
    {kStrSettingsCaption, "Nastavení parametrů"},
    {kStrStatusReady, "OK"},
    {kStrStatusDoNotDisturb, "Neruš"},
    {kStrStatusAtLunch, "Jím"},
    {kStrStatusAway, "Pryč"},
    {kStrEnterNumber, "Zadejte číslo!"},
    {kStrNetworkUnreachable, "Síť je nedostupná"},
    {kStrOlderMessagesRemoved, "Starší zprávy byly odstraněny."},
    {kStrAppTitle, "Mrmx3"},
    {kStrIdlePrompt, "Připraven."},
    {kStrPromptAbout, "Nápověda.\nNápověda."},
    {kStrPromptExit, "Konec programu."},
    {kStrPromptToolBar, "Ukázat/skrýt toolbar.\nUkaž ToolBar"},
    {kStrPromptStatusBar, "Ukázat/skrýt status bar\nUkaž StatusBar"},
};

struct Tables {
    std::unordered_map<int, std::string> utf8;
    std::unordered_map<int, std::string> cp1250;
    Tables() {
        for (const Entry& e : kTable) {
            utf8.emplace(e.id, e.utf8);
            cp1250.emplace(e.id, cp1250::FromUtf8(e.utf8));
        }
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

const std::string& Lookup(const std::unordered_map<int, std::string>& map, int id) {
    static const std::string empty;
    const auto it = map.find(id);
    return it == map.end() ? empty : it->second;
}

}  // namespace

const std::string& String(int id) {
    return Lookup(GetTables().cp1250, id);
}

const std::string& StringUtf8(int id) {
    return Lookup(GetTables().utf8, id);
}

}  // namespace res
