// The run-time lookups of a loaded module as the host answers them: its import of kernel32
// GetProcAddress goes through a filter, so that a run can leave out a function (its lookup
// answers null, as in a shell or a system without it) and say which lookups it refused.
#pragma once

#include <windows.h>

#include <string>

namespace hostlookups {

// From now on a filtered module's lookup of this name, in any module, answers null. Names
// compare with case, as GetProcAddress compares them.
void leaveOut(const std::string& name);
// From now on a filtered module's lookup of this name answers `replacement`, unless a rule made
// before names it too: the first rule for a name decides.
void answerWith(const std::string& name, FARPROC replacement);
// Every lookup goes to the system again.
void forgetRules();
// Called with the name of each lookup that was answered null because of a rule.
void reportRefusalsTo(void (*report)(const char* name));
// Points the module's import of GetProcAddress at the filter; answers the slots changed.
int filterLookupsOf(HMODULE module);

}  // namespace hostlookups
