// tests/cli/ArgumentsTest.cpp
#include <gtest/gtest.h>

#include "cli/Arguments.h"

namespace {

ParsedArguments Parse(std::vector<std::string> words) {
    return ParseArguments(words);
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
    };
    for (const auto& [words, error] : cases) {
        EXPECT_EQ(Parse(words).error, error) << testing::PrintToString(words);
    }
}

}  // namespace
