// The lromup-sim commands, each working from its parsed request
// (sim/tool/options.cpp parses; each returns the tool's exit status).
#pragma once

struct ToolRequest;

int cmdNew(const ToolRequest& request);      // sim/tool/new.cpp
int cmdRun(const ToolRequest& request);      // sim/tool/run.cpp
int cmdReboot(const ToolRequest& request);   // sim/tool/reboot.cpp
int cmdImage(const ToolRequest& request);    // sim/tool/show.cpp: image, show, read
int cmdShow(const ToolRequest& request);
int cmdRead(const ToolRequest& request);
int cmdSp(const ToolRequest& request);       // sim/tool/sp.cpp
int cmdSpImage(const ToolRequest& request);
