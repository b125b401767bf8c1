// Timing and the printed tables.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

double median(std::vector<double> v);
double sum(const std::vector<double> &v);

// Milliseconds taken by one call of f.
double time_ms(const std::function<void()> &f);

struct pair_times {
  std::vector<double> lib, floor;
};

// Runs lib(i) and floor(i) for i in [0, reps), alternating which of the two
// goes first so that neither always meets a warm or a cold cache.
pair_times time_pair(int reps, const std::function<void(int)> &lib,
                     const std::function<void(int)> &floor);

// One line of the main table: the library against the bare git floor.
void add_row(const std::string &op, int reps, const pair_times &t, const std::string &note = "");
// One line of the second table: a single measured quantity.
void add_fact(const std::string &what, int reps, const std::vector<double> &ms,
              const std::string &note = "");

// One line of the memory table.
void add_memory(const std::string &what, long long json_bytes, long long peak_bytes);

void print_tables(FILE *out);
