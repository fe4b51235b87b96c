// The disk's floor for the load benchmark: appends records of an upload's stored size to a file in
// the given folder for a few seconds, synced one at a time and then one sync per 64 records, and
// prints the records per second of each. Usage: disk_floor FOLDER [SECONDS per way, default 3]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr size_t RecordBytes = 47 * 1024;

// Records per second appended to File, with fdatasync after every RecordsPerSync; -1 when a write fails.
double Measure(const std::string& File, int RecordsPerSync, double Seconds) {
  const int Descriptor = ::open(File.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
  if (Descriptor < 0) return -1;
  const std::vector<char> Record(RecordBytes, 'r');
  using TClock = std::chrono::steady_clock;
  const auto Start = TClock::now();
  long Records = 0;
  double Elapsed = 0;
  bool Failed = false;
  while (!Failed && Elapsed < Seconds) {
    for (int I = 0; I < RecordsPerSync && !Failed; ++I, ++Records) {
      Failed = ::write(Descriptor, Record.data(), Record.size()) != static_cast<ssize_t>(Record.size());
    }
    Failed = Failed || ::fdatasync(Descriptor) != 0;
    Elapsed = std::chrono::duration<double>(TClock::now() - Start).count();
  }
  ::close(Descriptor);
  ::unlink(File.c_str());
  return Failed ? -1 : static_cast<double>(Records) / Elapsed;
}

}  // namespace

int main(int Count, char** Values) {
  if (Count < 2) {
    std::fputs("usage: disk_floor FOLDER [SECONDS]\n", stderr);
    return 2;
  }
  const std::string File = std::string(Values[1]) + "/disk-floor.bin";
  const double Seconds = Count > 2 ? std::atof(Values[2]) : 3.0;
  const double One = Measure(File, 1, Seconds);
  const double Grouped = Measure(File, 64, Seconds);
  if (One < 0 || Grouped < 0) {
    std::perror("disk_floor");
    return 1;
  }
  std::printf("disk floor: %.0f records of 47 KB/s synced one at a time, %.0f/s with one sync per 64\n", One, Grouped);
  return 0;
}
