// The lromup-sim commands, each working from its parsed request
// (sim/tool/options.cpp parses; each returns the tool's exit status).
#pragma once

struct ToolRequest;

// Each lives in the file of its name: sim/tool/new.cpp, run.cpp, ...
int cmdNew(const ToolRequest& request);
int cmdRun(const ToolRequest& request);
int cmdReboot(const ToolRequest& request);
int cmdImage(const ToolRequest& request);
int cmdShow(const ToolRequest& request);
int cmdRead(const ToolRequest& request);
int cmdSp(const ToolRequest& request);       // sp.cpp, with sp image
int cmdSpImage(const ToolRequest& request);
