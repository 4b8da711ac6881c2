// The measurement file the whole-run and tagging server benchmarks write.

#include "bench/measurement_file.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace vireo::bench {
namespace {

TEST(MeasurementFile, FiguresInTheirOrder) {
  const MeasurementFile file = MeasurementFile::Parse(
      "run/b wall_ms=3\n"
      "\n"
      "run/a wall_ms=1\n"
      "machine date=2026-12-11 07:37 UTC\n"
      "run/b wall_ms=2.5\n"
      "machine emulator=qemu-i386 version 10.0 (a=b)\n"
      "machine empty=\n"
      "run/b wall_ms=4");  // the last line without its newline
  EXPECT_EQ(file.Numbers("run/b", "wall_ms"), (std::vector<double>{3, 2.5, 4}));
  EXPECT_EQ(file.Text("run/b", "wall_ms"), "4");
  EXPECT_EQ(file.Text("machine", "date"), "2026-12-11 07:37 UTC");
  EXPECT_EQ(file.Text("machine", "emulator"), "qemu-i386 version 10.0 (a=b)");
  EXPECT_TRUE(file.Has("machine", "empty"));
  EXPECT_EQ(file.Text("machine", "empty"), "");
  EXPECT_FALSE(file.Has("run/a", "date"));
  EXPECT_FALSE(file.Has("run", "wall_ms"));
  EXPECT_EQ(file.SeriesNamed("run/"), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(file.SeriesNamed("mach"), (std::vector<std::string>{"ine"}));
  EXPECT_TRUE(file.SeriesNamed("stub/").empty());
}

TEST(MeasurementFile, WhatItRefuses) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"machine cores=2\nmachine\n", "line 2 is not 'SERIES KEY=VALUE': 'machine'"},
      {"machine cores 2\n", "line 1 is not 'SERIES KEY=VALUE': 'machine cores 2'"},
      {" cores=2\n", "line 1 is not 'SERIES KEY=VALUE': ' cores=2'"},
      {"machine =2\n", "line 1 is not 'SERIES KEY=VALUE': 'machine =2'"},
      {"machine=x cores=2\n", "line 1 is not 'SERIES KEY=VALUE': 'machine=x cores=2'"},
      {"\n\nmachine  cores=2\n", "line 3 is not 'SERIES KEY=VALUE': 'machine  cores=2'"},
  };
  for (const auto& c : cases) {
    try {
      MeasurementFile::Parse(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const std::invalid_argument& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
  const MeasurementFile file = MeasurementFile::Parse("run/a wall_ms=1\nrun/a exit_code=0x0\n");
  EXPECT_THROW(file.Text("run/a", "peak_private"), std::invalid_argument);
  EXPECT_THROW(file.Numbers("run/b", "wall_ms"), std::invalid_argument);
  EXPECT_THROW(file.Numbers("run/a", "exit_code"), std::invalid_argument);
}

}  // namespace
}  // namespace vireo::bench
