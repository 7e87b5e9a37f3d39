#include "bench/bench_report.h"

#include <stdarg.h>
#include <stdio.h>

#include <algorithm>

#include "simhost/sim_host.h"

namespace {

struct Row {
  std::string figure;
  std::string measured;
  std::string goal;
  Verdict verdict;
  std::vector<std::string> details;
};

std::vector<Row> g_rows;

std::string FormatV(const char* format, va_list args) {
  char text[1024];
  vsnprintf(text, sizeof(text), format, args);
  return text;
}

std::vector<double> Ratios(const RatioSamples& samples) {
  std::vector<double> ratios;
  for (size_t i = 0; i < samples.a.size() && i < samples.b.size(); ++i) {
    if (samples.b[i] > 0.0) ratios.push_back(samples.a[i] / samples.b[i]);
  }
  return ratios;
}

}  // namespace

double Now() {
  static double secondsPerCount = 0.0;
  if (secondsPerCount == 0.0) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    secondsPerCount = 1.0 / static_cast<double>(frequency.QuadPart);
  }
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) * secondsPerCount;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

double RatioSamples::MedianRatio() const { return Median(Ratios(*this)); }

double RatioSamples::LowRatio() const {
  std::vector<double> ratios = Ratios(*this);
  return ratios.empty() ? 0.0 : *std::min_element(ratios.begin(), ratios.end());
}

double RatioSamples::HighRatio() const {
  std::vector<double> ratios = Ratios(*this);
  return ratios.empty() ? 0.0 : *std::max_element(ratios.begin(), ratios.end());
}

std::string FormatRatio(const RatioSamples& samples) {
  return Format("%.2f [%.2f-%.2f]", samples.MedianRatio(), samples.LowRatio(), samples.HighRatio());
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  return text;
}

std::string Microseconds(double seconds) {
  const double us = seconds * 1e6;
  return Format(us < 10.0 ? "%.2f us" : us < 100.0 ? "%.1f us" : "%.0f us", us);
}

void AddRow(const std::string& figure, const std::string& measured, const std::string& goal, Verdict verdict) {
  Row row = {figure, measured, goal, verdict, std::vector<std::string>()};
  g_rows.push_back(row);
}

void AddDetail(const std::string& text) {
  if (!g_rows.empty()) g_rows.back().details.push_back(text);
}

void PrintTable(const char* title) {
  static const char* const kVerdicts[] = {"PASS", "MISS", "info"};
  printf("%s\n", title);
  printf("  %-66s %-22s %-10s %s\n", "figure", "measured", "goal", "result");
  for (const Row& row : g_rows) {
    printf("  %-66s %-22s %-10s %s\n", row.figure.c_str(), row.measured.c_str(), row.goal.c_str(),
           kVerdicts[row.verdict]);
    for (const std::string& detail : row.details) printf("        %s\n", detail.c_str());
  }
  fflush(stdout);
}

static void PrintTagged(const char* tag, const char* format, va_list args) {
  printf("%s: %s\n", tag, FormatV(format, args).c_str());
  fflush(stdout);
}

void Progress(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintTagged("progress", format, args);
  va_end(args);
}

void Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintTagged("FAILED", format, args);
  va_end(args);
  SimLeaveTempFolder();
  ExitProcess(2);
}
