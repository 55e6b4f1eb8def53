// The shared library exports what tovrane.dll exports (tovrane.def), and nothing else.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <string>

namespace {

TEST(Exports, TheLibraryExportsWhatTheDllExports) {
    std::set<std::string> listed, found;
    std::ifstream def(TOVRANE_DEF_PATH);
    for (std::string word; def >> word;)
        if (word.starts_with("TOV_") || word.ends_with("CRC16Table") || word == "GetCRC16") listed.insert(word);
    ASSERT_FALSE(listed.empty()) << TOVRANE_DEF_PATH;
    const std::string command = "nm -D --defined-only '" TOVRANE_SO_PATH "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_TRUE(pipe);
    char address[64], kind[8], name[400];
    while (std::fscanf(pipe.get(), "%63s %7s %399s", address, kind, name) == 3) found.insert(name);
    // Linker-made markers are not functions of ours.
    for (const char* marker : {"_init", "_fini", "__bss_start", "_edata", "_end"}) found.erase(marker);
    EXPECT_EQ(found, listed);
}

}  // namespace
