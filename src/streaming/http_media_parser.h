// Base of the parsers that cut frames out of an HTTP response body (Motion JPEG over HTTP).
// Called on the HTTP channel's worker thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantrel {

class IDriver;
class IMediaParserClient;

class CHttpMediaParser {
 public:
  static constexpr size_t kMaxFrameSize = 10485760;  // 0xA00000

  // `driver` is borrowed: the driver outlives its channels.
  explicit CHttpMediaParser(IDriver* driver) : driver_(driver) {}
  virtual ~CHttpMediaParser() = default;

  CHttpMediaParser(const CHttpMediaParser&) = delete;
  CHttpMediaParser& operator=(const CHttpMediaParser&) = delete;

  // Blocks of any size and any split of the body.
  virtual void ProcessData(const uint8_t* data, size_t size) = 0;

  // `client` is borrowed: the channel that owns this parser.
  void SetClient(IMediaParserClient* client) { client_ = client; }
  // False (with the overflow message) once the frame buffer, grown by `adding` bytes, would be
  // above kMaxFrameSize.
  bool CheckBufferSize(size_t adding = 0);

  uint32_t GetWidth() const { return width_; }
  uint32_t GetHeight() const { return height_; }

 protected:
  IDriver* const driver_;
  IMediaParserClient* client_ = nullptr;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  std::vector<uint8_t> frame_;
};

}  // namespace vantrel
