// Command line of the stand-in host. No windows.h.
#pragma once

#include <string>
#include <vector>

namespace hostoptions {

enum class StartKind { Plain, Slit, Ex };  // beginPlugin, beginSlitPlugin, beginPluginEx

struct Options {
    StartKind start = StartKind::Plain;
    std::string plugin;
    std::string logFile;
    std::string scriptFile;
    std::string screenshotFile;
    std::string styleFile;
    std::string editor;   // empty: notepad
    std::string netTable; // an interface table to feed the plugin
    std::string diskTable; // physical disks to feed the plugin in its performance data
    std::string coreTable; // the processors to feed the plugin
    std::string gpuTable;  // the graphics adapters to feed the plugin
    int stopAfter = -1;   // milliseconds; -1 runs until stopped
    bool explainReads = false;  // log the rc line behind every settings read
    bool logTexts = false;      // log every text the plugin draws
    std::vector<std::string> without;  // functions whose run-time lookup by the plugin answers null
    bool help = false;
    std::string error;    // empty when the command line is sound
};

Options parseOptions(const std::vector<std::string>& args);
const char* usageText();

}  // namespace hostoptions
