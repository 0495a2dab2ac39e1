// lromup-sim image DIR FILE: writes an image this machine accepts.
#include <memory>
#include <string>
#include <vector>

#include "sim/board/board_image.h"
#include "sim/board/machine.h"
#include "sim/store/dir_files.h"
#include "sim/store/machine_dir.h"
#include "sim/tool/commands.h"
#include "sim/tool/report.h"
#include "sim/tool/request.h"

int cmdImage(const ToolRequest& request) {
    const std::vector<std::string>& args = request.operands;
    MachineRecord record;
    std::string error;
    std::unique_ptr<Machine> m = loadMachineDir(args[0], record, &error);
    if (!m) return toolFailed(error);
    std::vector<uint8_t> image = buildNewImage(*m, request.imageKind, request.seed);
    if (image.empty()) return toolFailed("image: this machine's flash part is too small for an image");
    if (!writeOutsideMachine(args[0], args[1], "the image", image, &error)) return toolFailed(error);
    return SIM_TOOL_OK;
}

