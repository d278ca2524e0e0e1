// Writes the seed corpus of the performance-data fuzzer: well-formed blocks of the kinds the
// system returns (processor, system and physical-disk objects), from the same builder the unit
// tests use. Usage: write_perf_seeds FOLDER
#include <cstdio>
#include <string>
#include <vector>

#include "support/perf_block.h"

using namespace perfblock;

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: write_perf_seeds FOLDER\n");
        return 2;
    }
    Object withTrailing = processorObject({{u"0", 11}, {u"_Total", 22}});
    withTrailing.trailingBytes = 24;
    const std::vector<Block> seeds = {
        build(1000, {processorObject({{u"0", 5}, {u"1", 7}, {u"_Total", 400}})}),
        build(2000, {otherObject(230, 2), processorObject({{u"0", 5}, {u"_Total", 9}})}),
        build(3000, {systemObject(123456)}),
        build(4000, {otherObject(230, 1)}),
        build(5000, {}),
        build(6000, {withTrailing, systemObject(1)}),
        build(7000, {processorObject({{u"_TOTAL", 1}, {u"", 2}, {u"\u00e9t\u00e9", 3}})}),
        build(8000, {otherObject(230, 1), diskObject({{u"0 C:", 100, 200}, {u"1 D: E:", 1000, 2000}})}),
        build(9000, {processorObject({{u"_Total", 9}}), diskObject({{u"0 C: D: E:", 5, 6}}, false)}),
        build(10000, {diskObject({})}),
    };
    for (size_t i = 0; i < seeds.size(); ++i) {
        const std::string path = std::string(argv[1]) + "/seed" + std::to_string(i);
        FILE* file = fopen(path.c_str(), "wb");
        if (!file || fwrite(seeds[i].bytes.data(), 1, seeds[i].size(), file) != seeds[i].size()) {
            fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        fclose(file);
    }
    return 0;
}
