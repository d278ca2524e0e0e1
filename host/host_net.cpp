// Interface tables of the stand-in host: lists the table a plugin sees (script step
// "interfaces"), and with --net-table or the net-table step feeds it a table of the host's own,
// whose counters grow at set rates, through both of the plugin's ways to read one (GetIfTable2
// and Windows XP's GetIfTable). Without a table, both hand the plugin's calls to the system.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/import_patch.h"
#include "host/rc_files.h"

namespace host {

namespace {

struct FedInterface {
    uint64_t id = 0;
    std::string alias, description;
    DWORD type = IF_TYPE_ETHERNET_CSMACD;
    bool up = true, hardware = true, filter = false;
    uint64_t speed = 0;
    uint64_t in = 0, out = 0;          // the counters when the table was loaded
    uint64_t inRate = 0, outRate = 0;  // bytes a second from then on
};

bool feeding = false;
std::vector<FedInterface> fed;
ULONGLONG fedSince = 0;

typedef DWORD(WINAPI* GetIfTable2Fn)(PMIB_IF_TABLE2*);
typedef VOID(WINAPI* FreeMibTableFn)(PVOID);
typedef DWORD(WINAPI* GetIfTableFn)(PMIB_IFTABLE, PULONG, BOOL);

// The host imports nothing of the library itself, so it loads it; the reference stays for the run.
FARPROC systemFunction(const char* name) {
    static HMODULE iphlpapi = LoadLibraryA("iphlpapi.dll");
    return GetProcAddress(iphlpapi, name);
}

// The counters now: the loaded values and the bytes their rates add up to since the load.
uint64_t counterNow(uint64_t base, uint64_t rate) { return base + rate * (GetTickCount64() - fedSince) / 1000; }

void widen(const std::string& text, WCHAR* out, int size) {
    if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out, size) == 0) out[0] = 0;
}

// Tables handed out by fedGetIfTable2 and not yet freed: FreeMibTable frees these itself and
// hands every other table to the system.
std::vector<void*> fedTables;

DWORD WINAPI fedGetIfTable2(PMIB_IF_TABLE2* out) {
    if (!feeding) {
        auto system = reinterpret_cast<GetIfTable2Fn>(systemFunction("GetIfTable2"));
        return system ? system(out) : ERROR_NOT_SUPPORTED;
    }
    if (!out) return ERROR_INVALID_PARAMETER;
    auto* table = static_cast<MIB_IF_TABLE2*>(calloc(1, sizeof(MIB_IF_TABLE2) + fed.size() * sizeof(MIB_IF_ROW2)));
    if (!table) return ERROR_NOT_ENOUGH_MEMORY;
    table->NumEntries = static_cast<ULONG>(fed.size());
    for (size_t i = 0; i < fed.size(); ++i) {
        const FedInterface& f = fed[i];
        MIB_IF_ROW2& row = table->Table[i];
        row.InterfaceLuid.Value = f.id;
        row.InterfaceIndex = static_cast<NET_IFINDEX>(i + 1);
        widen(f.alias, row.Alias, IF_MAX_STRING_SIZE + 1);
        widen(f.description, row.Description, IF_MAX_STRING_SIZE + 1);
        row.Type = f.type;
        row.OperStatus = f.up ? IfOperStatusUp : IfOperStatusDown;
        row.InterfaceAndOperStatusFlags.HardwareInterface = f.hardware;
        row.InterfaceAndOperStatusFlags.FilterInterface = f.filter;
        row.ReceiveLinkSpeed = row.TransmitLinkSpeed = f.speed;
        row.InOctets = counterNow(f.in, f.inRate);
        row.OutOctets = counterNow(f.out, f.outRate);
    }
    *out = table;
    fedTables.push_back(table);
    return NO_ERROR;
}

VOID WINAPI fedFreeMibTable(PVOID memory) {
    for (size_t i = 0; i < fedTables.size(); ++i)
        if (fedTables[i] == memory) {
            fedTables.erase(fedTables.begin() + static_cast<std::ptrdiff_t>(i));
            free(memory);
            return;
        }
    auto system = reinterpret_cast<FreeMibTableFn>(systemFunction("FreeMibTable"));
    if (system) system(memory);
}

// As Windows XP answers: 32-bit counters, the description as bytes with its length.
DWORD WINAPI fedGetIfTable(PMIB_IFTABLE table, PULONG size, BOOL sorted) {
    if (!feeding) return reinterpret_cast<GetIfTableFn>(systemFunction("GetIfTable"))(table, size, sorted);
    if (!size) return ERROR_INVALID_PARAMETER;
    const ULONG needed = static_cast<ULONG>(offsetof(MIB_IFTABLE, table) + fed.size() * sizeof(MIB_IFROW));
    if (!table || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = static_cast<DWORD>(fed.size());
    for (size_t i = 0; i < fed.size(); ++i) {
        const FedInterface& f = fed[i];
        MIB_IFROW& row = table->table[i];
        ZeroMemory(&row, sizeof row);
        row.dwIndex = static_cast<DWORD>(f.id);
        row.dwType = f.type;
        row.dwOperStatus = f.up ? MIB_IF_OPER_STATUS_OPERATIONAL : MIB_IF_OPER_STATUS_NON_OPERATIONAL;
        row.dwSpeed = static_cast<DWORD>(f.speed);
        row.dwInOctets = static_cast<DWORD>(counterNow(f.in, f.inRate));
        row.dwOutOctets = static_cast<DWORD>(counterNow(f.out, f.outRate));
        row.dwDescrLen = static_cast<DWORD>(snprintf(reinterpret_cast<char*>(row.bDescr), MAXLEN_IFDESCR, "%s",
                                                     f.description.c_str()) + 1);
        if (row.dwDescrLen > MAXLEN_IFDESCR) row.dwDescrLen = MAXLEN_IFDESCR;
    }
    return NO_ERROR;
}

bool parseInterface(const std::string& line, FedInterface* f, std::string* error) {
    size_t at = 0;
    std::string key, value;
    bool bad = false;
    while (!bad && nextTableField(line, &at, &key, &value)) {
        uint64_t n = 0;
        if (key == "alias") {
            f->alias = value;
            continue;
        }
        if (key == "description") {
            f->description = value;
            continue;
        }
        uint64_t* numbers[] = {&f->id, &f->speed, &f->in, &f->out, &f->inRate, &f->outRate};
        const char* names[] = {"id", "speed", "in", "out", "in-rate", "out-rate"};
        bool known = false;
        for (size_t i = 0; i < 6 && !known; ++i)
            if (key == names[i] && parseTableNumber(value, numbers[i])) known = true;
        if (!known && parseTableNumber(value, &n)) {
            known = true;
            if (key == "type") f->type = static_cast<DWORD>(n);
            else if (key == "up") f->up = n != 0;
            else if (key == "hardware") f->hardware = n != 0;
            else if (key == "filter") f->filter = n != 0;
            else known = false;
        }
        bad = !known;
    }
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (bad || at < line.size()) {
        *error = "cannot read the interface \"" + line + "\"";
        return false;
    }
    return true;
}

std::string narrow(const WCHAR* text) {
    char out[4 * (IF_MAX_STRING_SIZE + 1)];
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, nullptr) == 0) out[0] = 0;
    return out;
}

}  // namespace

// One "key=value" field; a value in double quotes may hold blanks.
bool nextTableField(const std::string& line, size_t* at, std::string* key, std::string* value) {
    while (*at < line.size() && (line[*at] == ' ' || line[*at] == '\t')) ++*at;
    if (*at >= line.size()) return false;
    const size_t equals = line.find('=', *at);
    if (equals == std::string::npos) return false;
    *key = line.substr(*at, equals - *at);
    size_t end;
    if (equals + 1 < line.size() && line[equals + 1] == '"') {
        end = line.find('"', equals + 2);
        if (end == std::string::npos) return false;
        *value = line.substr(equals + 2, end - equals - 2);
        ++end;
    } else {
        end = line.find_first_of(" \t", equals);
        if (end == std::string::npos) end = line.size();
        *value = line.substr(equals + 1, end - equals - 1);
    }
    *at = end;
    return true;
}

bool parseTableNumber(const std::string& text, uint64_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    *value = strtoull(text.c_str(), &end, 0);
    return end && *end == '\0';
}

bool readTableLines(const char* file, const char* table, std::vector<std::string>* lines, std::string* error) {
    std::string text;
    if (!hostrc::readWholeFile(file, &text)) {
        *error = std::string("cannot read the ") + table + " " + file;
        return false;
    }
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') lines->push_back(line);
    }
    return true;
}

bool loadNetTable(const char* file, std::string* error) {
    std::vector<std::string> lines;
    if (!readTableLines(file, "interface table", &lines, error)) return false;
    std::vector<FedInterface> rows;
    for (const std::string& line : lines) {
        FedInterface f;
        if (!parseInterface(line, &f, error)) return false;
        rows.push_back(f);
    }
    // An interface of the table fed so far goes on from its counters now, as a real one does when
    // only its rates change.
    const ULONGLONG now = GetTickCount64();
    for (FedInterface& f : rows)
        for (const FedInterface& before : fed)
            if (feeding && before.id == f.id) {
                f.in = counterNow(before.in, before.inRate);
                f.out = counterNow(before.out, before.outRate);
            }
    fed = rows;
    fedSince = now;
    feeding = true;
    logLine("net-table %s: %u interfaces", quoted(file).c_str(), static_cast<unsigned>(fed.size()));
    return true;
}

void installNetTableFeed(HMODULE plugin) {
    importpatch::patchImport(plugin, "iphlpapi.dll", "GetIfTable", reinterpret_cast<void*>(systemFunction("GetIfTable")),
                             reinterpret_cast<void*>(fedGetIfTable));
}

FARPROC netTableLookup(const char* name) {
    // Always the host's own: a table loaded by a later step reaches a plugin that looked them up
    // at its start. Without a table they hand every call to the system.
    if (!name || !systemFunction(name)) return nullptr;
    if (strcmp(name, "GetIfTable2") == 0) return reinterpret_cast<FARPROC>(fedGetIfTable2);
    if (strcmp(name, "FreeMibTable") == 0) return reinterpret_cast<FARPROC>(fedFreeMibTable);
    return nullptr;
}

void logInterfaces() {
    PMIB_IF_TABLE2 table = nullptr;
    if ((!feeding && !systemFunction("GetIfTable2")) || fedGetIfTable2(&table) != NO_ERROR || !table) {
        logLine("interfaces: the table cannot be read");
        return;
    }
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IF_ROW2& row = table->Table[i];
        logLine("interface %llx alias=%s description=%s type=%lu up=%d hardware=%d filter=%d in=%llu out=%llu",
                static_cast<unsigned long long>(row.InterfaceLuid.Value), quoted(narrow(row.Alias).c_str()).c_str(),
                quoted(narrow(row.Description).c_str()).c_str(), static_cast<unsigned long>(row.Type),
                row.OperStatus == IfOperStatusUp, row.InterfaceAndOperStatusFlags.HardwareInterface ? 1 : 0,
                row.InterfaceAndOperStatusFlags.FilterInterface ? 1 : 0, static_cast<unsigned long long>(row.InOctets),
                static_cast<unsigned long long>(row.OutOctets));
    }
    fedFreeMibTable(table);
}

}  // namespace host
