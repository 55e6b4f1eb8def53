// The shared library exports exactly the library's interface: every name,
// and nothing else.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

namespace {

const std::set<std::string> kExports = {
    "TOV_Get_Dll_Version", "TOV_IsGetErrorString", "TOV_GetPrompt",   "MakeCRC16Table",
    "GetCRC16",            "TOV_Load_File",        "TOV_Del_All_Files", "TOV_Update_Tovrane",
    "TOV_Set_IP",          "TOV_Get_IP",           "TOV_Set_Mask",    "TOV_Get_Mask",
    "TOV_Set_Gateway",     "TOV_Get_Gateway",      "TOV_Set_COM",     "TOV_Get_COM",
    "TOV_Set_DiskSize",    "TOV_Get_DiskSize",     "TOV_Get_Tovrane_Version",
    "TOV_Dir_Tovrane",     "TOV_Get_FreeSize",
};

std::set<std::string> defined_dynamic_symbols(const std::string& library) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + library + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        char address[64], kind[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3) names.insert(name);
    }
    return names;
}

TEST(Exports, TheLibraryExportsExactlyItsInterface) {
    std::set<std::string> found = defined_dynamic_symbols(TOVRANE_SO_PATH);
    ASSERT_FALSE(found.empty()) << "nm found nothing in " << TOVRANE_SO_PATH;
    // Linker-made markers are not functions of ours.
    for (const char* marker : {"_init", "_fini", "__bss_start", "_edata", "_end"}) found.erase(marker);
    EXPECT_EQ(found, kExports);
}

}  // namespace
