#include "platform/platform.h"

#include <cstdlib>
#include <iostream>

#include "flash/report.h"
#include "os/os.h"
#include "platform/x86qm.h"

namespace {
constexpr int EXIT_NO_FIRMWARE_DESCRIPTION = 254;
}

Platform* platInit(OS* os) { return new x86QMPlatform(os); }

s_FirmwareDescription* FindFirmware(OS* os, Platform* platform, unsigned int id,
                                    const char* name, const char* switchName) {
    const s_FlashMap* map = platform != nullptr ? platform->getFlashMap() : nullptr;
    if (map != nullptr) {
        for (int32_t i = 0; i < map->descriptionCount; ++i) {
            if (map->descriptions[i]->id == id) return map->descriptions[i];
        }
    }

    const char* label = name != nullptr ? name : "";
    std::cout << "the firmware_description firmware information is " << label << std::endl;
    std::cerr << "Could not find " << label << " firmware information" << std::endl;
    if (switchName != nullptr)
        std::cerr << '"' << switchName
                  << "\" is an invalid switch for this version of wromup/lromup." << std::endl;
    if (os != nullptr) osDestroy(os);
    noteEarlyExit(EXIT_NO_FIRMWARE_DESCRIPTION);
    std::exit(EXIT_NO_FIRMWARE_DESCRIPTION);
}
