#include "streaming/jpeg_header_builder.h"

#include "foundation/byte_reader.h"

namespace vantrel {

namespace {

// ITU-T T.81 Annex K.1 and K.2, natural (row) order.
constexpr uint8_t kLumaNatural[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                      14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                      18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                      49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr uint8_t kChromaNatural[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                        24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                        99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                        99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
// Natural index of each zig-zag position.
constexpr uint8_t kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// ITU-T T.81 Annex K.3 typical Huffman tables.
constexpr uint8_t kDcLumaBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kDcChromaBits[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kAcLumaBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr uint8_t kAcLumaValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22,
    0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33,
    0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34,
    0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55,
    0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76,
    0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5,
    0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4,
    0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1,
    0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr uint8_t kAcChromaBits[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kAcChromaValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13,
    0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62,
    0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29,
    0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54,
    0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75,
    0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94,
    0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3,
    0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2,
    0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea,
    0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

template <size_t N>
void PutHuffman(std::vector<uint8_t>& out, uint8_t tableClassId, const uint8_t (&bits)[16],
                const uint8_t (&values)[N]) {
  out.push_back(0xFF);
  out.push_back(0xC4);
  Put16(out, 3 + 16 + N);
  out.push_back(tableClassId);
  out.insert(out.end(), bits, bits + 16);
  out.insert(out.end(), values, values + N);
}

}  // namespace

void MakeQuantizationTables(int q, uint8_t (&tables)[128]) {
  if (q < 1) q = 1;
  if (q > 99) q = 99;
  const int factor = q < 50 ? 5000 / q : 200 - 2 * q;
  for (int i = 0; i < 64; ++i) {
    int luma = (kLumaNatural[kZigZag[i]] * factor + 50) / 100;
    int chroma = (kChromaNatural[kZigZag[i]] * factor + 50) / 100;
    tables[i] = static_cast<uint8_t>(luma < 1 ? 1 : (luma > 255 ? 255 : luma));
    tables[64 + i] = static_cast<uint8_t>(chroma < 1 ? 1 : (chroma > 255 ? 255 : chroma));
  }
}

bool CJpegHeaderBuilder::Build(const uint8_t* frame, size_t size, uint32_t width, uint32_t height,
                               std::vector<uint8_t>& header, JpegHeaderInfo& info, JpegTableCache* cache) {
  header.clear();
  info = JpegHeaderInfo();
  ByteReader reader(frame, size);
  //  0                   1                   2                   3
  //  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
  // | Type-specific |              Fragment Offset                  |
  // |      Type     |       Q       |     Width     |     Height    |
  uint8_t typeSpecific = 0, type = 0, q = 0, width8 = 0, height8 = 0;
  uint32_t offset = 0;
  if (!reader.ReadU8(typeSpecific) || !reader.ReadU24(offset) || !reader.ReadU8(type) || !reader.ReadU8(q) ||
      !reader.ReadU8(width8) || !reader.ReadU8(height8))
    return false;
  if (offset != 0) return false;

  // | Restart Interval |F|L|       Restart Count       |   (types 64 to 127)
  uint16_t restartInterval = 0;
  const bool hasRestart = type >= 64;
  if (hasRestart && (!reader.ReadU16(restartInterval) || !reader.Skip(2))) return false;

  // The tables as DQT wants them: per table its 16-bit flag and its bytes.
  JpegTables tables;
  if (q >= 128) {
    // |      MBZ      |   Precision   |             Length            |
    uint8_t mbz = 0, precision = 0;
    uint16_t length = 0;
    if (!reader.ReadU8(mbz) || !reader.ReadU8(precision) || !reader.ReadU16(length)) return false;
    if (mbz != 0) {
      // Not the RFC's table header: the Q's own tables are the best guess, as they always were.
      uint8_t fromQ[128];
      MakeQuantizationTables(q, fromQ);
      tables.bytes.assign(fromQ, fromQ + 128);
    } else if (length != 0) {
      std::span<const uint8_t> inBand;
      if (!reader.ReadBytes(length, inBand)) return false;
      tables.precision = precision;
      tables.bytes.assign(inBand.begin(), inBand.end());
      if (cache != nullptr) (*cache)[q] = tables;
    } else if (cache != nullptr && cache->count(q) != 0) {
      tables = (*cache)[q];
    } else {
      return false;  // tables promised earlier that never came: no picture can be decoded
    }
  } else {
    uint8_t fromQ[128];
    MakeQuantizationTables(q, fromQ);
    tables.bytes.assign(fromQ, fromQ + 128);
  }
  // Split by precision: 64 bytes per 8-bit table, 128 per 16-bit one; they must add up.
  struct Table {
    size_t offset, size;
    bool wide;
  };
  std::vector<Table> split;
  for (size_t at = 0; at < tables.bytes.size();) {
    if (split.size() == 3) return false;
    const bool wide = (tables.precision >> split.size()) & 1;
    const size_t tableSize = wide ? 128 : 64;
    if (at + tableSize > tables.bytes.size()) return false;
    split.push_back({at, tableSize, wide});
    at += tableSize;
  }
  if (split.empty()) return false;

  info.consumed = reader.Position();
  info.width = width != 0 ? width : (width8 == 0 ? 2048u : width8 * 8u);
  info.height = height != 0 ? height : (height8 == 0 ? 2048u : height8 * 8u);
  header.reserve(kMaxHeaderSize);

  // SOI and APP0 (JFIF 1.1, no units, 1x1 density, no thumbnail).
  const uint8_t app0[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
                          0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
  header.insert(header.end(), app0, app0 + sizeof(app0));
  if (hasRestart) {
    const uint8_t dri[] = {0xFF, 0xDD, 0x00, 0x04};
    header.insert(header.end(), dri, dri + sizeof(dri));
    Put16(header, restartInterval);
  }
  for (size_t id = 0; id < split.size(); ++id) {
    header.push_back(0xFF);
    header.push_back(0xDB);
    Put16(header, static_cast<uint32_t>(split[id].size + 3));
    header.push_back(static_cast<uint8_t>((split[id].wide ? 0x10 : 0x00) | id));
    header.insert(header.end(), tables.bytes.begin() + static_cast<std::ptrdiff_t>(split[id].offset),
                  tables.bytes.begin() + static_cast<std::ptrdiff_t>(split[id].offset + split[id].size));
  }
  // A reference to a table that was never defined makes the image undecodable: with one table
  // every component uses it, with two the chroma share the second, with three Cr has its own.
  const uint8_t cbTable = split.size() > 1 ? 1 : 0;
  const uint8_t crTable = split.size() > 2 ? 2 : cbTable;
  // 16-bit tables are only allowed in extended sequential frames (SOF1).
  bool anyWide = false;
  for (const Table& t : split) anyWide = anyWide || t.wide;
  const uint8_t sof[] = {0xFF,
                         static_cast<uint8_t>(anyWide ? 0xC1 : 0xC0),
                         0x00,
                         0x11,
                         0x08,
                         static_cast<uint8_t>(info.height >> 8),
                         static_cast<uint8_t>(info.height),
                         static_cast<uint8_t>(info.width >> 8),
                         static_cast<uint8_t>(info.width),
                         0x03,
                         0x01,
                         static_cast<uint8_t>((type & 1) ? 0x22 : 0x21),
                         0x00,
                         0x02,
                         0x11,
                         cbTable,
                         0x03,
                         0x11,
                         crTable};
  header.insert(header.end(), sof, sof + sizeof(sof));
  PutHuffman(header, 0x00, kDcLumaBits, kDcValues);
  PutHuffman(header, 0x10, kAcLumaBits, kAcLumaValues);
  PutHuffman(header, 0x01, kDcChromaBits, kDcValues);
  PutHuffman(header, 0x11, kAcChromaBits, kAcChromaValues);
  const uint8_t sos[] = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
  header.insert(header.end(), sos, sos + sizeof(sos));
  return header.size() <= kMaxHeaderSize;
}

}  // namespace vantrel
