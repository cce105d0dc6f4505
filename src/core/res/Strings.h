// src/core/res/Strings.h
#pragma once

#include <string>

// The program's string table: every user-visible text, looked up by its number.
namespace res {

enum StringId : int {
    kStrStatusPaneUnknown = 101,
    kStrSocketsInitFailed = 104,
    kStrUnknownName = 129,
    kStrSoundsFolder = 130,
    kStrSettingsPrompt = 131,
    kStrTraceCodePrefix = 132,
    kStrAwayWav = 133,
    kStrLunchWav = 134,
    kStrOnlineWav = 135,
    kStrOfflineWav = 136,
    kStrMessageWav = 137,
    kStrDndWav = 138,
    kStrDefaultGroup = 139,
    kStrIsInStatus = 140,
    kStrStatusDisconnected = 141,
    kStrWantsAttention = 142,
    kStrLastMessage = 143,
    kStrBellWav = 144,
    kStrSmallMsgWav = 145,
    kStrPromptReady = 146,
    kStrPromptDoNotDisturb = 147,
    kStrPromptAway = 148,
    kStrPromptAtLunch = 149,
    kStrPeerDisconnectedNotice = 150,
    kStrPeerReconnectedNotice = 151,
    kStrIsTyping = 152,
    kStrSettingsCaption = 153,
    kStrStatusReady = 154,
    kStrStatusDoNotDisturb = 155,
    kStrStatusAtLunch = 156,
    kStrStatusAway = 157,
    kStrEnterNumber = 158,
    // Texts of this program's own, numbered apart from the inherited table.
    kStrNetworkUnreachable = 300,
    kStrOlderMessagesRemoved = 301,
    kStrAppTitle = 57344,
    kStrIdlePrompt = 57345,
    kStrPromptAbout = 57664,
    kStrPromptExit = 57665,
    kStrPromptToolBar = 59392,
    kStrPromptStatusBar = 59393,
};

// Code page 1250 bytes of a string; empty for an unknown number.
const std::string& String(int id);

// UTF-8 text of a string (for the widgets); empty for an unknown number.
const std::string& StringUtf8(int id);

}  // namespace res
