#include <stdio.h>

#include <algorithm>

#include "measure.h"

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double sum(const std::vector<double> &v) {
  double s = 0;
  for (double x : v) s += x;
  return s;
}

double time_ms(const std::function<void()> &f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

pair_times time_pair(int reps, const std::function<void(int)> &lib,
                     const std::function<void(int)> &floor) {
  pair_times t;
  for (int i = 0; i < reps; i++) {
    if (i % 2 == 0) {
      t.lib.push_back(time_ms([&] { lib(i); }));
      t.floor.push_back(time_ms([&] { floor(i); }));
    } else {
      t.floor.push_back(time_ms([&] { floor(i); }));
      t.lib.push_back(time_ms([&] { lib(i); }));
    }
  }
  return t;
}

struct row {
  std::string op;
  int reps;
  double lib, floor;
  std::string note;
};

struct fact {
  std::string what;
  int reps;
  double ms;
  std::string note;
};

struct memory {
  std::string what;
  long long json, peak;
};

static std::vector<row> s_rows;
static std::vector<memory> s_memory;
static std::vector<fact> s_facts;

void add_row(const std::string &op, int reps, const pair_times &t, const std::string &note) {
  s_rows.push_back({op, reps, median(t.lib), median(t.floor), note});
  fprintf(stderr, "  %-52s lib %9.2f ms  floor %9.2f ms\n", op.c_str(), s_rows.back().lib,
          s_rows.back().floor);
}

void add_fact(const std::string &what, int reps, const std::vector<double> &ms,
              const std::string &note) {
  s_facts.push_back({what, reps, median(ms), note});
  fprintf(stderr, "  %-52s %9.2f ms\n", what.c_str(), s_facts.back().ms);
}

void add_memory(const std::string &what, long long json_bytes, long long peak_bytes) {
  s_memory.push_back({what, json_bytes, peak_bytes});
  fprintf(stderr, "  %-52s JSON %lld B, heap peak %lld B\n", what.c_str(), json_bytes, peak_bytes);
}

void print_tables(FILE *out) {
  fprintf(out, "| operation | reps | library median (ms) | bare git floor median (ms) | ratio | note |\n");
  fprintf(out, "|---|---:|---:|---:|---:|---|\n");
  for (const row &r : s_rows)
    fprintf(out, "| %s | %d | %.2f | %.2f | %.3f | %s |\n", r.op.c_str(), r.reps, r.lib, r.floor,
            r.floor > 0 ? r.lib / r.floor : 0.0, r.note.c_str());
  fprintf(out, "\n| measurement | reps | median (ms) | note |\n|---|---:|---:|---|\n");
  for (const fact &f : s_facts)
    fprintf(out, "| %s | %d | %.2f | %s |\n", f.what.c_str(), f.reps, f.ms, f.note.c_str());
  if (s_memory.empty()) return;
  fprintf(out, "\n| history | JSON (KiB) | library heap peak (KiB) | peak / JSON |\n|---|---:|---:|---:|\n");
  for (const memory &m : s_memory)
    fprintf(out, "| %s | %.1f | %.1f | %.2f |\n", m.what.c_str(), m.json / 1024.0, m.peak / 1024.0,
            m.json ? (double)m.peak / (double)m.json : 0.0);
}
