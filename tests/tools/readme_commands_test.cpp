// What the README promises a new user: two set-up commands, and the run
// command builds every program it names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/program_folder.h"

namespace {

std::string SourceFile(const std::string& name) {
    const char* root = std::getenv("LARKSPUR_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Readme, TwoSetUpCommandsThatExist) {
    const std::string readme = SourceFile("README.md");
    const size_t from = readme.find("## Set-up");
    ASSERT_NE(from, std::string::npos);
    const size_t to = readme.find("\n## ", from + 1);
    std::istringstream section(readme.substr(from, to - from));
    std::vector<std::string> commands;
    for (std::string line; std::getline(section, line);)
        if (line.rfind("    ", 0) == 0) commands.push_back(line.substr(4));
    EXPECT_EQ(commands, (std::vector<std::string>{"scripts/run.sh", "scripts/test.sh"}));
    const char* root = std::getenv("LARKSPUR_SOURCE_DIR");
    for (const std::string& command : commands)
        EXPECT_EQ(access((std::string(root ? root : ".") + "/" + command).c_str(), X_OK), 0) << command;
}

TEST(Readme, TheRunCommandBuildsEveryProgramItNames) {
    const std::string readme = SourceFile("README.md");
    std::set<std::string> named;
    const std::regex program("build/bin/([a-z][a-z-]*)");
    for (auto it = std::sregex_iterator(readme.begin(), readme.end(), program); it != std::sregex_iterator(); ++it)
        named.insert((*it)[1]);
    ASSERT_FALSE(named.empty());
    EXPECT_TRUE(named.count("halyard"));

    // The targets of run.sh's build command, over its continued lines.
    const std::string run = SourceFile("scripts/run.sh");
    const size_t build = run.find("cmake --build");
    ASSERT_NE(build, std::string::npos);
    std::string command;
    for (size_t at = build; at < run.size(); ++at) {
        if (run.compare(at, 2, "\\\n") == 0) {
            ++at;
            continue;
        }
        if (run[at] == '\n') break;
        command += run[at];
    }
    std::set<std::string> targets;
    std::istringstream words(command.substr(command.find("--target") + 8));
    for (std::string word; words >> word;) targets.insert(word);
    for (const std::string& name : named) {
        EXPECT_TRUE(targets.count(name)) << name << " is named in the README but not built by scripts/run.sh";
        EXPECT_EQ(access((platform::ProgramFolder() + "/" + name).c_str(), X_OK), 0) << name;
    }
    EXPECT_TRUE(targets.count("larkspur"));
}

}  // namespace
