// The periodic samplers: each reads one source, writes the model and asks the painter for the
// parts whose pixels changed. Each has the timer-callback form and ignores its arguments.
#pragma once

#include <windows.h>

#include <cstdint>

#include "config/panel_model.h"

void CALLBACK sampleCpu(HWND, UINT, UINT_PTR, DWORD);
void CALLBACK sampleMemory(HWND, UINT, UINT_PTR, DWORD);
void CALLBACK sampleBattery(HWND, UINT, UINT_PTR, DWORD);
void CALLBACK sampleUptime(HWND, UINT, UINT_PTR, DWORD);
void CALLBACK sampleIp(HWND, UINT, UINT_PTR, DWORD);
void CALLBACK sampleDisks(HWND, UINT, UINT_PTR, DWORD);

// Shifts the history one place towards index 0 and stores value as the newest sample (the
// load percentages sign-extended). A graph without history is passed by. False when the held
// samples are the same as before (all of them equal to value): the graph's plot stays as it is.
bool pushHistory(GraphState& graph, int64_t value);

// Shows the volume worker's answers that are there; the panel calls it on
// WM_KELVORA_VOLUME_ANSWER, and each disk tick before it asks again.
void takeVolumeAnswers();
// The disk rows know nothing of their volumes again, as at a fresh start.
void forgetDiskReadings();

// Writes the IP row's text; "n/a" when there is no address.
void storeIpAddress(const char* dottedAddress);
// Replaces an information row's value and asks for the row to be painted again, only when the
// text changed: a sampler whose reading changed nothing the panel shows costs no rendering.
// True when it changed.
bool showRowValue(int item, const char* text);
