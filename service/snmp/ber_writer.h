// A BER encoder that builds a message from its end towards its start.
//
// Writing back to front means that when a constructed element is closed its content is
// already written and its length known, so every length comes out in its minimal form
// without reserving space or moving bytes. The caller therefore writes the parts of an
// element in reverse order: content first (last child first), then PutHeader:
//
//   size_t mark = writer.size();
//   writer.PutInteger(kTagInteger, 5);      // second child
//   writer.PutOctets(kTagOctetString, "a"); // first child
//   writer.PutHeader(kTagSequence, writer.size() - mark);
//
// The buffer is kept between messages (Clear does not free it), so a writer reused for a
// stream of messages stops allocating once it has grown to the largest of them. Integers
// are always written in their minimal two's-complement form. Writes cannot fail other than
// by running out of memory.
#ifndef TERVANE_SERVICE_SNMP_BER_WRITER_H_
#define TERVANE_SERVICE_SNMP_BER_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace tervane::snmp {

class BerWriter {
 public:
  BerWriter() = default;
  BerWriter(const BerWriter&) = delete;
  BerWriter& operator=(const BerWriter&) = delete;

  // Forgets what was written; keeps the buffer.
  void Clear() { start_ = capacity_; }
  // Number of bytes written so far, and room for them in all.
  size_t size() const { return capacity_ - start_; }
  size_t capacity() const { return capacity_; }
  // The bytes written so far, first byte first. Valid until the next write.
  std::span<const uint8_t> data() const { return {buffer_.get() + start_, size()}; }
  // The same, to change in place (a MAC written into the zeros left for it).
  std::span<uint8_t> mutable_data() { return {buffer_.get() + start_, size()}; }

  // Each Put* prepends to what is already written.
  void PutBytes(std::span<const uint8_t> bytes);
  // Tag and minimal length of an element whose `content_length` bytes are already written.
  void PutHeader(uint8_t tag, size_t content_length) {
    if (content_length >= 0x80) return PutLongHeader(tag, content_length);
    uint8_t* p = Grow(2);
    p[0] = tag;
    p[1] = static_cast<uint8_t>(content_length);
  }
  // Complete elements.
  void PutInteger(uint8_t tag, int64_t value);
  void PutUnsigned(uint8_t tag, uint64_t value);
  void PutOctets(uint8_t tag, std::string_view octets);
  void PutElement(uint8_t tag, std::span<const uint8_t> content);

 private:
  // Makes room for `n` more bytes in front of the data and returns the new front; the
  // caller must then write exactly `n` bytes ending at the old front.
  // There are always at least kSlack free bytes in front of the data after a Grow, so
  // integers can be stored as one 8-byte word (see PutInteger).
  static constexpr size_t kSlack = 8;
  uint8_t* Grow(size_t n) {
    if (start_ < n + kSlack) Expand(n + kSlack);
    start_ -= n;
    return buffer_.get() + start_;
  }
  // Moves the data to a larger buffer with at least `n` free bytes in front.
  void Expand(size_t n);
  void PutLongHeader(uint8_t tag, size_t content_length);

  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_ = 0;
  size_t start_ = 0;  // the data is buffer_[start_, capacity_)
};

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_BER_WRITER_H_
