// The lromup-sim commands, each working from its parsed request
// (sim/tool_options.cpp parses; each returns the tool's exit status).
#pragma once

struct ToolRequest;

int cmdNew(const ToolRequest& request);      // sim/sim_new.cpp
int cmdRun(const ToolRequest& request);      // sim/sim_run.cpp
int cmdReboot(const ToolRequest& request);   // sim/sim_reboot.cpp
int cmdImage(const ToolRequest& request);    // sim/sim_tool.cpp: image, show, read
int cmdShow(const ToolRequest& request);
int cmdRead(const ToolRequest& request);
int cmdSp(const ToolRequest& request);       // sim/sp_tool.cpp
int cmdSpImage(const ToolRequest& request);
