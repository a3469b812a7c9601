// The options read before the application object, and the user's data folder.
#include "common/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/DataFolder.h"

namespace {

struct Linha {
    std::vector<std::string> args;
    bool pasta;  // the program takes --program-folder
    bool help, version;
    const char* folder;  // nullptr: none
    bool erro;
    std::vector<std::string> resto;  // what Qt gets, after the program's name
    const char* listen = nullptr;    // --listen-address; nullptr: none
};

TEST(CommandLine, TakesOwnOptionsOutAndLeavesTheRestForQt) {
    const std::vector<Linha> casos = {
        {{}, true, false, false, nullptr, false, {}},
        {{"--help"}, true, true, false, nullptr, false, {}},
        {{"-h"}, false, true, false, nullptr, false, {}},
        {{"--version"}, false, false, true, nullptr, false, {}},
        {{"-platform", "offscreen", "--version"},
         true,
         false,
         true,
         nullptr,
         false,
         {"-platform", "offscreen"}},
        {{"--program-folder", "/srv/x"}, true, false, false, "/srv/x", false, {}},
        {{"--program-folder=/srv/y", "-style", "fusion"},
         true,
         false,
         false,
         "/srv/y",
         false,
         {"-style", "fusion"}},
        {{"--program-folder"}, true, false, false, nullptr, true, {}},
        {{"--program-folder="}, true, false, false, nullptr, true, {}},
        {{"--program-folder", ""}, true, false, false, nullptr, true, {}},
        // The manager has no program folder: the option is an error there, never ignored.
        {{"--program-folder", "/srv/x"}, false, false, false, nullptr, true, {"/srv/x"}},
        {{"--versoin"}, true, false, false, nullptr, true, {}},
        {{"--program-folderx"}, true, false, false, nullptr, true, {}},
        {{"--listen-address", "192.168.5.10", "--program-folder=/srv/y"},
         true,
         false,
         false,
         "/srv/y",
         false,
         {},
         "192.168.5.10"},
        // Empty on purpose: every address, whatever the settings file says.
        {{"--listen-address="}, true, false, false, nullptr, false, {}, ""},
        {{"--listen-address"}, true, false, false, nullptr, true, {}},
        {{"--listen-address", "10.0.0.1"}, false, false, false, nullptr, true, {"10.0.0.1"}},
        // Each once; the next option is no value.
        {{"--program-folder", "/a", "--program-folder=/b"}, true, false, false, "/b", true, {}},
        {{"--listen-address=", "--listen-address", "10.0.0.1"},
         true,
         false,
         false,
         nullptr,
         true,
         {},
         "10.0.0.1"},
        {{"--program-folder", "--help"}, true, true, false, nullptr, true, {}},
        {{"--listen-address", "--version"}, true, false, true, nullptr, true, {}},
    };
    for (const auto& c : casos) {
        std::vector<std::string> textos = {"Prog"};
        textos.insert(textos.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (auto& t : textos) argv.push_back(t.data());
        argv.push_back(nullptr);
        int argc = static_cast<int>(textos.size());
        const auto o = common::ReadCommandLine(argc, argv.data(), c.pasta);
        const std::string nome = ::testing::PrintToString(c.args);
        EXPECT_EQ(o.help, c.help) << nome;
        EXPECT_EQ(o.version, c.version) << nome;
        EXPECT_EQ(o.programFolder.has_value(), c.folder != nullptr) << nome;
        if (c.folder && o.programFolder) {
            EXPECT_EQ(*o.programFolder, c.folder) << nome;
        }
        EXPECT_EQ(o.listenAddress.has_value(), c.listen != nullptr) << nome;
        if (c.listen && o.listenAddress) {
            EXPECT_EQ(*o.listenAddress, c.listen) << nome;
        }
        EXPECT_EQ(!o.error.empty(), c.erro) << nome << ": " << o.error;
        std::vector<std::string> resto;
        for (int i = 1; i < argc; ++i) resto.emplace_back(argv[i]);
        EXPECT_EQ(resto, c.resto) << nome;
        EXPECT_EQ(argv[argc], nullptr) << nome;
        EXPECT_STREQ(argv[0], "Prog") << nome;
    }
}

TEST(DataFolder, FollowsTheBaseDirectoryRules) {
    struct Caso {
        const char* xdg;
        const char* home;
        const char* esperado;
    };
    const Caso casos[] = {
        {"/d/x", "/home/u", "/d/x/Lumora"},
        {nullptr, "/home/u", "/home/u/.local/share/Lumora"},
        {"", "/home/u", "/home/u/.local/share/Lumora"},
        {"rel/x", "/home/u", "/home/u/.local/share/Lumora"},
        {nullptr, nullptr, ""},
        {"rel", "rel", ""},
    };
    for (const auto& c : casos) {
        EXPECT_EQ(common::UserDataFolder("Lumora", c.xdg, c.home).string(), c.esperado)
            << (c.xdg ? c.xdg : "(unset)") << " " << (c.home ? c.home : "(unset)");
    }
}

}  // namespace
