// Feeds arbitrary text to the agent's settings reader as "agent.ini": the INI reader, the check
// of the keys' spellings and the destination lists' parser must cope with anything an edited or
// damaged file may hold, and a list that is misspelt must admit nothing.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

#include "agent/DestinationPolicy.h"
#include "agent/SettingsKeys.h"
#include "platform/linux/IniFile.h"
#include "support/TestSystem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TTestSystem system;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::ofstream(system.Home() + "/agent.ini", std::ios::binary | std::ios::trunc) << text;

    const TIniFile settings("agent.ini");
    const TSettingsKeyCheck keys =
        CheckSettingsKeys(settings.Contents().ToString(), {"Enabled", "AllowCall", "AllowListen"});
    const std::optional<std::string> calls =
        keys.Misspells("AllowCall") ? std::string() : settings.FindString("AllowCall");
    const std::optional<std::string> listens =
        keys.Misspells("AllowListen") ? std::string() : settings.FindString("AllowListen");
    const TDestinationPolicy policy(calls, listens);
    const bool anyCall = policy.AdmitsCall(0x7F000001, 443) || policy.AdmitsCall(0x0A000005, 80);
    const bool anyListen = policy.AdmitsListen(5000) || policy.AdmitsListen(1);
    if ((keys.Misspells("AllowCall") && anyCall) || (keys.Misspells("AllowListen") && anyListen)) {
        __builtin_trap();  // a misspelt list let something through
    }
    return 0;
}
