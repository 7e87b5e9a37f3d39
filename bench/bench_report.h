// Clock, statistics and the printed table of the benchmark.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Seconds from an arbitrary start, from the performance counter.
double Now();

double Median(std::vector<double> values);

// One figure measured as A ÷ B in alternating rounds: each round times both
// sides back to back, so a slow spell of the machine hits both alike.
struct RatioSamples {
  std::vector<double> a;  // seconds per operation, one entry per round
  std::vector<double> b;
  void Add(double aSeconds, double bSeconds) {
    a.push_back(aSeconds);
    b.push_back(bSeconds);
  }
  double MedianRatio() const;  // median of the per-round ratios
  double LowRatio() const;
  double HighRatio() const;
  double MedianA() const { return Median(a); }
  double MedianB() const { return Median(b); }
};

// "1.23 [1.10-1.40]": the median with the lowest and highest round.
std::string FormatRatio(const RatioSamples& samples);
std::string Format(const char* format, ...);
std::string Microseconds(double seconds);  // "12.3 us"

enum Verdict { kPass, kMiss, kInfo };

// A table row: what was measured, the value, the goal and the verdict, with
// lines under it that say what the number covers.
void AddRow(const std::string& figure, const std::string& measured, const std::string& goal, Verdict verdict);
void AddDetail(const std::string& text);
void PrintTable(const char* title);

void Progress(const char* format, ...);

// Something needed for a measurement did not work: the run is worthless.
[[noreturn]] void Fail(const char* format, ...);
