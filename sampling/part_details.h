// The tooltips' text builders, one a kind of part: each asks the system (or the model) at the
// moment the tooltip asks for its text, never before. The slot is a disk row's; the others
// ignore it.
#pragma once

#include "sampling/detail_text.h"

void describeCpu(int slot, DetailText& detail);
void describeMemory(int slot, DetailText& detail);
void describeCores(int slot, DetailText& detail);
void describeGpu(int slot, DetailText& detail);
void describeDisk(int slot, DetailText& detail);
void describeNetwork(int slot, DetailText& detail);
void describeDiskActivity(int slot, DetailText& detail);
void describeIp(int slot, DetailText& detail);
void describeBattery(int slot, DetailText& detail);
void describeUptime(int slot, DetailText& detail);

// The name of the measure the CPU load is taken with, as the CPU tooltip shows it.
const char* cpuMeasureInUse();
