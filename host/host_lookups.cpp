// Filtering of a module's GetProcAddress calls. Each rule names a function and gives the
// answer for it: null (the function is missing) or a replacement of the host's own.
#include "host/host_lookups.h"

#include <vector>

#include "host/import_patch.h"

namespace hostlookups {

namespace {

struct Rule {
    std::string name;
    FARPROC answer;
};
std::vector<Rule> rules;
void (*reportRefusal)(const char* name) = nullptr;

typedef FARPROC(WINAPI* GetProcAddressFn)(HMODULE, LPCSTR);
// Taken once, before any slot is patched: a module filtered twice must not reach the filter
// again as the "system's" function.
GetProcAddressFn systemGetProcAddress = nullptr;

const Rule* ruleFor(LPCSTR name) {
    // A lookup by ordinal carries no name and is never filtered.
    if (IS_INTRESOURCE(name)) return nullptr;
    for (const Rule& rule : rules)
        if (rule.name == name) return &rule;
    return nullptr;
}

FARPROC WINAPI filteredGetProcAddress(HMODULE module, LPCSTR name) {
    const Rule* rule = ruleFor(name);
    if (!rule) return systemGetProcAddress(module, name);
    if (!rule->answer) {
        if (reportRefusal) reportRefusal(name);
        SetLastError(ERROR_PROC_NOT_FOUND);
    }
    return rule->answer;
}

}  // namespace

void leaveOut(const std::string& name) { rules.push_back(Rule{name, nullptr}); }

void answerWith(const std::string& name, FARPROC replacement) { rules.push_back(Rule{name, replacement}); }

void forgetRules() { rules.clear(); }

void reportRefusalsTo(void (*report)(const char* name)) { reportRefusal = report; }

int filterLookupsOf(HMODULE module) {
    if (!systemGetProcAddress) {
        HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
        systemGetProcAddress = reinterpret_cast<GetProcAddressFn>(GetProcAddress(kernel32, "GetProcAddress"));
    }
    return importpatch::patchImport(module, "kernel32.dll", "GetProcAddress",
                                    reinterpret_cast<void*>(systemGetProcAddress),
                                    reinterpret_cast<void*>(filteredGetProcAddress));
}

}  // namespace hostlookups
