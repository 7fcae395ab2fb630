// Writes the seed corpora into fuzz/corpus/<target>/: real exchanges as the tests build them,
// framed as the fuzz targets read their input (fake_bench.h), a settings file and the host's
// interferogram files. Run by hand after a change of an input format:
//   build-fuzz/fuzz-make-seeds fuzz/corpus
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "bench/accessories.h"
#include "bench/retrieval.h"
#include "link/byte_order.h"
#include "tests/support/packets.h"
#include "host/files/interferogram_files.h"
#include "host/files/spectrum_files.h"
#include "host/files/whole_file.h"

using namespace dorvane;
using testing::appendBE;
using testing::Bytes;

namespace {

std::filesystem::path corpus;

void save(const std::string& target, const std::string& name, const Bytes& bytes) {
  std::filesystem::create_directories(corpus / target);
  std::ofstream(corpus / target / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The parts of one input, one after another.
Bytes input(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// The fake bench's prefix: which call fails after how many sends, with what, and when the line hangs up.
Bytes prefix(std::uint8_t call = 0, std::uint8_t after = 0, std::uint8_t failure = 0, std::uint8_t hangUp = 255) {
  return {call, after, failure, hangUp};
}

void addChunk(Bytes& out, const Bytes& bytes, std::uint8_t delay = 0) {
  out.push_back(static_cast<std::uint8_t>(bytes.size()));
  out.push_back(delay);
  out.insert(out.end(), bytes.begin(), bytes.end());
}

// The line before the driver's first send, for exchanges that the driver begins.
const Bytes kSilentStart = {0, 0};

// The bench's side of one exchange: an ACK for each of the driver's `requestPackets` packets, the
// reply's STX with the last of them, and each further reply packet in answer to the driver's ACK.
// With no request, the reply's STX is there from the start.
Bytes exchange(int requestPackets, const std::vector<Bytes>& reply) {
  Bytes out;
  if (requestPackets == 0) {
    addChunk(out, reply.front());
  } else {
    for (int i = 1; i < requestPackets; ++i) addChunk(out, {link::kAck});
    addChunk(out, testing::join({link::kAck}, reply.front()));
  }
  for (std::size_t i = 1; i < reply.size(); ++i) addChunk(out, reply[i]);
  return out;
}

std::vector<Bytes> replyOf(const Bytes& data) { return testing::messagePackets(testing::join({0xA5, 0x5A}, data)); }

std::vector<Bytes> statusReply(std::uint16_t specStat, std::uint16_t flags, std::uint32_t stamp) {
  Bytes data;
  appendBE(data, specStat, 2);
  appendBE(data, 0x01020304, 4);
  appendBE(data, flags, 2);
  appendBE(data, stamp, 4);
  return replyOf(data);
}

std::vector<Bytes> setupReply() {
  Bytes record(bench::kBenchSetupSize, 0);
  link::putBE32(record.data() + bench::field::serialNumber.offset, 0x0009003C);
  link::putBE16(record.data() + bench::field::sampScans.offset, 16);
  link::putBE32(record.data() + bench::field::dataPoints.offset, 16448);
  record[bench::field::laserSamp.offset] = 0xE4;
  record[bench::field::adcVolts.offset] = 10;
  return replyOf(record);
}

std::vector<Bytes> devicesReply() {
  Bytes words;
  appendBE(words, 0x00060205, 4);  // the iris, the shuttle, the beam mirror and both motors
  for (std::size_t i = 1; i < bench::kDeviceReplyWords; ++i) appendBE(words, static_cast<std::uint32_t>(i * 10), 4);
  return replyOf(words);
}

// A data block's reply: the header behind the leading word, then the points in packets of 200 bytes.
std::vector<Bytes> spectrumReply(std::uint32_t points, std::uint8_t sizeBits, int pointSize) {
  Bytes header(bench::kDataHeaderSize, 0);
  link::putBE16(header.data() + bench::field::sampScans.offset, 4);
  header[bench::field::scanDirection.offset] = sizeBits;
  link::putBE32(header.data() + bench::field::dataStart.offset, 0);
  link::putBE32(header.data() + bench::field::dataEnd.offset, points - 1);
  Bytes packed;
  for (std::uint32_t i = 0; i < points; ++i) appendBE(packed, 4 * 32768 + i * 97 % 4000, pointSize);
  return testing::dataBlockPackets(header, packed, 200);
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

void linkSeeds() {
  const Bytes statusCapacity = {0x06, 0x0C};  // 1548
  const auto status = statusReply(0, bench::data_def::done, 0x01020304);
  save("rx_message", "status", input({statusCapacity, prefix(), exchange(0, status)}));
  save("rx_message", "setup-in-a-small-buffer", input({{0x00, 0x40}, prefix(), exchange(0, setupReply())}));
  save("rx_message", "read-fails-after-two-sends", input({statusCapacity, prefix(3, 2, 0x14), exchange(0, status)}));
  save("rx_message", "hang-up-after-one-send", input({statusCapacity, prefix(0, 0, 0, 1), exchange(0, status)}));
  // SRQ and SYNC before the reply, a damaged packet answered by NAK, then the good one.
  Bytes noisy = input({statusCapacity, prefix()});
  addChunk(noisy, testing::join({link::kSrq, link::kSync, link::kSrq}, status[0]));
  Bytes damaged = status[1];
  damaged.back() ^= 0x01;
  addChunk(noisy, damaged);
  addChunk(noisy, status[1], 5);
  addChunk(noisy, status[2]);
  save("rx_message", "srq-and-a-nak", noisy);

  for (const auto& [name, bits, size] :
       {std::tuple{"two-byte-points", 0x00, 2}, {"three-byte-points", 0x08, 3}, {"four-byte-points", 0x10, 4}}) {
    save("rx_data_block", name, input({{9, 10}, prefix(), kSilentStart, exchange(3, spectrumReply(120, bits, size))}));
  }
  save("rx_data_block", "put-fails-after-four-sends",
       input({{11, 5}, prefix(1, 4, 0x01), kSilentStart, exchange(3, spectrumReply(120, 0x00, 2))}));

  save("bench_replies", "status", input({{0}, prefix(), kSilentStart, exchange(3, status)}));
  save("bench_replies", "setup", input({{1}, prefix(), kSilentStart, exchange(3, setupReply())}));
  save("bench_replies", "devices", input({{2}, prefix(), kSilentStart, exchange(3, devicesReply())}));
  // START SCAN, then a status that announces the new block (newSrq) with its stamp.
  save("bench_replies", "start-scan",
       input({{3}, prefix(), kSilentStart, exchange(3, {{}}),
              exchange(3, statusReply(bench::spec_stat::newSrq, 0, 0x01020305))}));
  save("bench_replies", "scan-done", input({{4}, prefix(), kSilentStart, exchange(3, status)}));
  save("bench_replies", "bench-busy-then-ready",
       input({{5}, prefix(), kSilentStart, exchange(3, statusReply(bench::spec_stat::busy, 0, 0)),
              exchange(3, status)}));

  // Export scripts (the number of calls less one, then a byte a call) on a bench that answers well.
  // Open, then one file: the setup read again, PUT SETUP and its wait, START SCAN, the status that
  // announces the block, the poll that finds it done, and the block.
  const std::uint32_t stamp = 0x01020305;
  const Bytes oneFile = input({prefix(), kSilentStart, exchange(3, setupReply()), exchange(3, setupReply()),
                               exchange(3, {{}}), exchange(3, status), exchange(3, {{}}),
                               exchange(3, statusReply(bench::spec_stat::newSrq, 0, stamp)),
                               exchange(3, statusReply(0, bench::data_def::done, stamp)),
                               exchange(3, spectrumReply(120, 0x00, 2))});
  save("export_liveness", "open-then-one-file", input({{1, 0x00, 0xF7}, oneFile}));
  save("export_liveness", "open-then-stop-at-the-poll-that-finds-it-done", input({{1, 0x00, 0x17}, oneFile}));
  // Open, move the shuttle (its devices, the move, the settling, the wait), close.
  save("export_liveness", "open-move-the-shuttle-close",
       input({{2, 0x00, 0x15, 0x09}, prefix(), kSilentStart, exchange(3, setupReply()), exchange(3, devicesReply()),
              exchange(3, {{}}), exchange(3, status)}));

  Bytes samples;
  for (int i = 0; i < 64; ++i) appendBE(samples, static_cast<std::uint32_t>(4 * 32768 + i * 301 % 5000), 4);
  for (const auto& [name, size] :
       {std::pair{"two-byte-points", 0}, {"three-byte-points", 1}, {"four-byte-points", 2}}) {
    save("convert_data", name, input({{static_cast<std::uint8_t>(size), 0, 4, 10, 9}, samples}));
  }

  for (const char* command : {"shuttle", "iris 25", "mirror 1", "movemotor 0 200", "whoAreYou", "reset"}) {
    std::string name = command;
    std::replace(name.begin(), name.end(), ' ', '-');
    save("command_string", name,
         input({text(command), {0}, prefix(), kSilentStart, exchange(3, devicesReply())}));
  }
}

void fileSeeds() {
  save("settings_file", "dorvane.ini",
       text("[Settings]\nfvel=4\nrvel=4\nsymmetry=0\npoints=16384\ngain=0\nlasersamp=2\nlpf=0\nport=1\nbaud=38400\n"
            "lturn=1000\nqturn=300\ndetector=1\niris=50\nlog=0\n"));
  save("settings_file", "odd-forms.ini",
       text("; a comment\n[other]\nport=9\n[ SETTINGS ]\n  Port = 2 ; note\nbaud=\"115200\"\npoints=-12abc\npoints=7\n"
            "gain=99999999999\nlasersamp\nlog=1\n"));

  host::InterferogramRecord record;
  record.title = "file 1 of 1";
  record.timestampMs = 1796640806123.0;
  record.scans = 16;
  record.gain = 1;
  record.benchIdentity = (9 << 16) | 60;
  record.laserWavenumber = host::defaultLaserWavenumber();
  record.undersampling = 2;
  record.sample = "polystyrene film";
  record.setupText = "Bench Setup:  specStat.reInit 0\n  sampScans 16 0x10\n";
  for (int i = 0; i < 48; ++i) record.volts.push_back(0.5 * std::cos(i * 0.7) * std::exp(-std::abs(i - 24) / 6.0));
  const std::filesystem::path folder = corpus / "interferogram_file";
  std::filesystem::create_directories(folder);
  const std::string failure = host::writeFileSet(
      {host::interferogramCsv(record, (folder / "interferogram.csv").string()),
       host::interferogramJcamp(record, (folder / "interferogram.jdx").string())},
      host::Existing::Replace);
  if (!failure.empty()) std::fprintf(stderr, "make_seeds: %s\n", failure.c_str());

  // A spectrum with a missing point, as `dorvane plot` reads it back.
  host::SpectrumRecord spectrum;
  spectrum.title = "absorbance of sample-001.jdx against background-001.jdx";
  spectrum.kind = host::SpectrumKind::Absorbance;
  for (int i = 0; i < 24; ++i) {
    spectrum.wavenumbers.push_back(400 + 150.0 * i);
    spectrum.values.push_back(i == 5 ? std::nan("") : 0.2 * std::sin(i * 0.4));
  }
  const std::string spectrumFailure = host::writeFileSet(
      {host::spectrumCsv(spectrum, (folder / "single-beam.csv").string()),
       host::spectrumJcamp(spectrum, (folder / "spectrum.jdx").string())},
      host::Existing::Replace);
  if (!spectrumFailure.empty()) std::fprintf(stderr, "make_seeds: %s\n", spectrumFailure.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  corpus = argv[1];
  linkSeeds();
  fileSeeds();
  return 0;
}
