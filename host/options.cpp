// Command-line parsing of the stand-in host.
#include "host/options.h"

#include "host/rc_text.h"

namespace hostoptions {

namespace {

std::string* fileOption(Options& o, const std::string& name) {
    if (name == "--log") return &o.logFile;
    if (name == "--script") return &o.scriptFile;
    if (name == "--screenshot") return &o.screenshotFile;
    if (name == "--style") return &o.styleFile;
    if (name == "--editor") return &o.editor;
    if (name == "--net-table") return &o.netTable;
    if (name == "--disk-table") return &o.diskTable;
    if (name == "--core-table") return &o.coreTable;
    if (name == "--gpu-table") return &o.gpuTable;
    return nullptr;
}

}  // namespace

Options parseOptions(const std::vector<std::string>& args) {
    Options o;
    bool kindGiven = false;
    for (size_t i = 0; i < args.size() && o.error.empty(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--slit" || a == "--ex") {
            if (kindGiven) o.error = "give at most one of --slit and --ex";
            o.start = a == "--slit" ? StartKind::Slit : StartKind::Ex;
            kindGiven = true;
        } else if (a == "--explain-reads") {
            o.explainReads = true;
        } else if (a == "--log-texts") {
            o.logTexts = true;
        } else if (a == "--without") {
            if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1][0] == '-')
                o.error = "--without needs the name of a function";
            else o.without.push_back(args[++i]);
        } else if (a == "--stop-after") {
            if (i + 1 >= args.size() || !hostrc::parseInt(args[i + 1], &o.stopAfter) || o.stopAfter < 0)
                o.error = "--stop-after needs a number of milliseconds";
            ++i;
        } else if (std::string* target = fileOption(o, a)) {
            if (i + 1 >= args.size() || args[i + 1].empty()) o.error = a + " needs a file";
            else *target = args[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            o.error = "unknown option " + a;
        } else if (!o.plugin.empty()) {
            o.error = "only one plugin can be given";
        } else {
            o.plugin = a;
        }
    }
    if (o.error.empty() && !o.help && o.plugin.empty()) o.error = "no plugin DLL given";
    return o;
}

const char* usageText() {
    return "usage: blackbox.exe [--slit | --ex] [--log FILE] [--script FILE] [--screenshot FILE]\n"
           "                    [--style FILE] [--editor PROGRAM] [--stop-after MS] [--explain-reads] [--log-texts]\n"
           "                    [--net-table FILE] [--core-table FILE] [--disk-table FILE] [--gpu-table FILE]\n"
           "                    [--without FUNCTION]...\n"
           "                    PLUGIN.dll\n"
           "  --slit           start the plugin with beginSlitPlugin (default: beginPlugin)\n"
           "  --ex             start the plugin with beginPluginEx\n"
           "  --log FILE       record every host call, plugin message and message box;\n"
           "                   message boxes are then dismissed automatically\n"
           "  --script FILE    run timed steps (wait, broadcast, reconfigure, menu, drag, screenshot, stop)\n"
           "  --screenshot F   save the panel as a PNG file when the run ends\n"
           "  --style FILE     style values (style.textColor: #RRGGBB and so on)\n"
           "  --editor PROGRAM the editor that GetBlackboxEditor names (default: notepad)\n"
           "  --stop-after MS  end the run after MS milliseconds\n"
           "  --explain-reads  with --log, follow every settings read with the rc line that\n"
           "                   answered it and whether the reader took its text as it stands\n"
           "  --log-texts      with --log, log every text the plugin draws, with its rectangle\n"
           "  --net-table F    feed the plugin the interface table of F (see README) instead of the system's\n"
           "  --disk-table F   feed the plugin the physical disks of F (see README) in its performance data\n"
           "  --core-table F   feed the plugin the processors of F (see README) instead of the system's\n"
           "  --gpu-table F    feed the plugin the graphics adapters of F (see README) instead of the system's\n"
           "  --without F      the plugin's run-time lookups of the function F (GetProcAddress)\n"
           "                   answer null, as in a shell or system without it; repeatable\n";
}

}  // namespace hostoptions
