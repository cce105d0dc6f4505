// tests/cli/ArgumentsTest.cpp
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/Arguments.h"
#include "core/res/Cp1250.h"
#include "core/settings/UserStatus.h"

namespace {

ParsedArguments Parse(std::vector<std::string> words) {
    return ParseArguments(words);
}

std::string SourceFile(const char* path) {
    std::ifstream file(std::string(MURMEX3_SOURCE_DIR) + "/" + path, std::ios::binary);
    EXPECT_TRUE(file) << path;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Words alone: runs of spaces and line breaks become one space.
std::string Words(const std::string& text) {
    std::string words;
    for (const char c : text) {
        const bool space = c == ' ' || c == '\n';
        if (!space || (!words.empty() && words.back() != ' ')) {
            words += space ? ' ' : c;
        }
    }
    return words;
}

// The manual page's text: its requests' words, with the escapes it uses read.
std::string ManualText(const std::string& source) {
    std::string text;
    std::istringstream lines(source);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(".\\\"", 0) == 0) {
            continue;
        }
        if (!line.empty() && line[0] == '.') {
            const size_t space = line.find(' ');
            line = space == std::string::npos ? "" : line.substr(space + 1);
        }
        text += line + "\n";
    }
    for (size_t at = text.find('\\'); at != std::string::npos; at = text.find('\\', at)) {
        if (text.compare(at, 3, "\\[u") == 0) {
            std::string character;
            utf8::Append(character,
                         static_cast<char32_t>(std::stoul(text.substr(at + 3, 4), nullptr, 16)));
            text.replace(at, 8, character);
        } else if (text.compare(at, 4, "\\(dq") == 0) {
            text.replace(at, 4, "\"");
        } else if (text.compare(at, 2, "\\-") == 0) {
            text.replace(at, 2, "-");
        } else {
            ++at;
        }
    }
    return text;
}

TEST(ArgumentsTest, ReadsEachCommandWithItsOptionsInEitherForm) {
    ParsedArguments p = Parse({"peers", "--wait=10", "--json", "--quiet"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.arguments.command, Command::Peers);
    EXPECT_EQ(p.arguments.waitSeconds, 10);
    EXPECT_TRUE(p.arguments.json && p.arguments.quiet);
    EXPECT_EQ(Parse({"peers"}).arguments.waitSeconds, 6);

    // Options of every command may stand before the command; "--" ends the options.
    p = Parse({"--name", "Jiří", "send", "--to", "10.0.0.2", "Ahoj", "--", "--group", "-5"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.arguments.command, Command::Send);
    EXPECT_EQ(p.arguments.name, "Jiří");
    EXPECT_EQ(p.arguments.to, std::vector<std::string>{"10.0.0.2"});
    EXPECT_EQ(p.arguments.text, (std::vector<std::string>{"Ahoj", "--group", "-5"}));
    EXPECT_FALSE(p.arguments.group.has_value());

    p = Parse({"watch", "--json", "--group=Vývoj", "--status", "3"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.arguments.group, "Vývoj");
    EXPECT_EQ(p.arguments.status, 3);
    // --to may be repeated: each peer given.
    EXPECT_EQ(Parse({"bell", "--to=jan", "--to", "10.0.0.9"}).arguments.to,
              (std::vector<std::string>{"jan", "10.0.0.9"}));
    EXPECT_TRUE(Parse({"send", "--all"}).arguments.all);
}

TEST(ArgumentsTest, HelpAndVersionWinWhereverTheyStand) {
    EXPECT_EQ(Parse({"send", "--bogus", "-h"}).arguments.command, Command::Help);
    EXPECT_EQ(Parse({"--version", "watch"}).arguments.command, Command::Version);
    EXPECT_EQ(Parse({"-v"}).error, "");
    // After "--" it is the message's word.
    EXPECT_EQ(Parse({"send", "--all", "--", "--help"}).arguments.text,
              std::vector<std::string>{"--help"});
    EXPECT_EQ(VersionText(), std::string("murmex3-cli ") + MURMEX3_VERSION + "\n");
}

// What --help says the manual page and the README say too.
TEST(ArgumentsTest, TheHelpTheManualPageAndTheReadmeAgree) {
    const std::string readme = SourceFile("README.md");
    const size_t section = readme.find("## The command-line peer");
    ASSERT_NE(section, std::string::npos);
    const std::vector<std::pair<const char*, std::string>> documents = {
        {"--help", Words(HelpText())},
        {"manual page", Words(ManualText(SourceFile("docs/murmex3-cli.1")))},
        {"README", Words(readme.substr(section, readme.find("\n## ", section + 1) - section))},
    };
    std::vector<std::string> facts = {"SIGINT, SIGTERM or SIGHUP",
                                      "one announcement period and a second",
                                      "line breaks at its end"};
    for (int16_t status = 0; status <= 4; ++status) {
        facts.push_back(std::to_string(status) + " " + cp1250::ToUtf8(KnownStatusText(status)));
    }
    for (const auto& [document, text] : documents) {
        for (const std::string& fact : facts) {
            EXPECT_NE(text.find(fact), std::string::npos) << document << " lacks: " << fact;
        }
    }
}

TEST(ArgumentsTest, RefusesWhatTheCommandsDoNotTake) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no command given"},
        {{"ring"}, "unknown command 'ring'"},
        {{"peers", "--bogus"}, "unknown option '--bogus'"},
        {{"peers", "--wait"}, "--wait needs a value"},
        {{"peers", "--wait", "-1"}, "--wait takes whole seconds from 0 to 86400, not '-1'"},
        {{"peers", "--wait", "5s"}, "--wait takes whole seconds from 0 to 86400, not '5s'"},
        {{"peers", "--json=yes"}, "--json takes no value"},
        {{"peers", "extra"}, "peers takes no argument 'extra'"},
        {{"watch", "--quiet"}, "--quiet is not an option of watch"},
        {{"bell", "--to", "x", "--all"}, "--all is not an option of bell"},
        {{"send", "text"}, "send needs either --to NAME|ADDRESS or --all"},
        {{"send", "--to", "x", "--all"}, "send needs either --to NAME|ADDRESS or --all"},
        {{"bell"}, "bell needs --to NAME|ADDRESS"},
        {{"watch", "--status", "4"},
         "--status takes 0 (ready), 1 (away), 2 (do not disturb) or 3 (at lunch), not '4'"},
        {{"watch", "--name="}, "--name must not be empty"},
        {{"watch", "--also", "10.1.2.0/33"},
         "--also takes an address (10.1.2.7), a subnet (10.1.2.0/24) or a host name, not "
         "'10.1.2.0/33'"},
    };
    for (const auto& [words, error] : cases) {
        EXPECT_EQ(Parse(words).error, error) << testing::PrintToString(words);
    }
}

}  // namespace
