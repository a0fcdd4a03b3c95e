#include "Targa.h"

#include "platform/Kernel.h"
#include "platform/OutputFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace rastrel {
namespace {

constexpr std::size_t kChunkBytes = 32384;
constexpr char kFooterSignature[] = "TRUEVISION-XFILE";
constexpr char kSoftware[] = "Pixora Video Snapshot";
constexpr int kIdentificationBytes = 46;

std::size_t ColourMapOffset(const TargaHeader& header) {
    return 18u + header.idLength;
}

std::size_t PixelDataOffset(const TargaHeader& header) {
    std::size_t offset = ColourMapOffset(header);
    if (header.colourMapType != 0)
        offset +=
            static_cast<std::size_t>((header.colourMapEntrySize + 7) / 8) * header.colourMapLength;
    return offset;
}

// A file pixel (or colour-map entry) of `bytes` bytes as blue, green, red.
inline void ToBgr(const BYTE* in, int bytes, BYTE* out) {
    if (bytes >= 3) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
    } else {
        const unsigned v = platform::LoadU16Le(in);
        out[0] = static_cast<BYTE>(v << 3);
        out[1] = static_cast<BYTE>((v >> 2) & 0xF8);
        out[2] = static_cast<BYTE>((v >> 7) & 0xF8);
    }
}

// A run-length packet may run on into the next row: what is left of it is
// kept here between rows.
struct PacketState {
    int left = 0;
    bool run = false;
    BYTE value[4]{};
};

// Decodes one row of `width` pixels into row; pixels the data does not
// reach are 0. False when not one pixel was left to decode.
bool DecodeRow(platform::ChunkedReader& reader, PacketState& packet, int bytes, LONG width,
               BYTE* row) {
    const std::size_t worst = static_cast<std::size_t>(width) * (bytes + 1);
    const std::size_t available = reader.Ensure(worst);
    const BYTE* in = reader.Data();
    std::size_t used = 0;
    LONG x = 0;
    while (x < width) {
        if (packet.left == 0) {
            if (used >= available) break;
            const BYTE h = in[used++];
            packet.left = (h & 0x7F) + 1;
            packet.run = (h & 0x80) != 0;
            if (packet.run) {
                if (available - used < static_cast<std::size_t>(bytes)) {
                    packet.left = 0;
                    used = available;
                    break;
                }
                std::memcpy(packet.value, in + used, bytes);
                used += bytes;
            }
        }
        LONG count = std::min<LONG>(packet.left, width - x);
        if (packet.run) {
            for (LONG i = 0; i < count; ++i)
                std::memcpy(row + (x + i) * bytes, packet.value, bytes);
        } else {
            count = std::min<LONG>(count, static_cast<LONG>((available - used) / bytes));
            if (count == 0) {
                packet.left = 0;
                used = available;
                break;
            }
            std::memcpy(row + x * bytes, in + used, static_cast<std::size_t>(count) * bytes);
            used += static_cast<std::size_t>(count) * bytes;
        }
        packet.left -= count;
        x += count;
    }
    reader.Advance(used);
    if (x < width) std::memset(row + x * bytes, 0, static_cast<std::size_t>(width - x) * bytes);
    return x > 0;
}

} // namespace

int ProbeTarga(platform::ByteSource& source, TargaHeader& header) {
    std::memset(&header, 0, sizeof header);
    BYTE raw[18]{};
    char footer[18]{};
    // Short files read as zeros past their end.
    source.Seek(0);
    source.Read(raw, sizeof raw);
    if (source.SeekFromEnd(sizeof footer)) source.Read(footer, sizeof footer);
    const bool signed_ = std::memcmp(footer, kFooterSignature, 16) == 0;
    if ((raw[2] < 1 || raw[2] > 11) && !signed_) return kCodecNotTarga;
    header.idLength = raw[0];
    header.colourMapType = raw[1];
    header.imageType = raw[2];
    header.firstEntry = platform::LoadU16Le(raw + 3);
    header.colourMapLength = platform::LoadU16Le(raw + 5);
    header.colourMapEntrySize = raw[7];
    header.xOrigin = platform::LoadU16Le(raw + 8);
    header.yOrigin = platform::LoadU16Le(raw + 10);
    header.width = platform::LoadU16Le(raw + 12);
    header.height = platform::LoadU16Le(raw + 14);
    header.pixelDepth = raw[16];
    header.descriptor = raw[17];
    header.outputDepth = header.pixelDepth == 8 ? 8 : 24;
    return kCodecOk;
}

int ReadTargaPalette(platform::ByteSource& source, RGBQUAD* palette) {
    TargaHeader header{};
    if (ProbeTarga(source, header) != kCodecOk) return 0;
    if ((header.imageType != 1 && header.imageType != 9) || header.colourMapType == 0) return 0;
    const int entryBytes = (header.colourMapEntrySize + 7) / 8;
    // Entries narrower than 15 bits are no colour map this codec knows.
    if (entryBytes < 2 || entryBytes > 4) return 0;
    const int entries = std::min<int>(header.colourMapLength, 256);
    std::vector<BYTE> map(static_cast<std::size_t>(entryBytes) * entries, 0);
    if (!source.Seek(ColourMapOffset(header))) return 0;
    source.Read(map.data(), map.size());
    for (int i = 0; i < entries; ++i) {
        BYTE bgr[3];
        ToBgr(map.data() + static_cast<std::size_t>(i) * entryBytes, entryBytes, bgr);
        palette[i] = {bgr[0], bgr[1], bgr[2], 0};
    }
    return entries;
}

namespace {

// The layouts the reader decodes: colour-mapped, true-colour or grey, 8 to
// 32 bits, plain or run-length, rows from the bottom or the top.
int CheckLayout(const TargaHeader& header, const CodecImage& image) {
    const int type = header.imageType;
    const bool trueColour = (type & 7) == 2;
    if (image.header->biBitCount != (trueColour ? 24 : 8)) return kCodecBadDepth;
    if ((type & 7) == 0 || (type & 4) != 0 || (header.descriptor & 0xC0) != 0)
        return kCodecNotTarga;
    if (header.pixelDepth != 8 && header.pixelDepth != 16 && header.pixelDepth != 24 &&
        header.pixelDepth != 32)
        return kCodecNotTarga;
    if (header.width >= 8096 || header.height >= 32768) return kCodecNotTarga;
    return kCodecOk;
}

// The file's rows in file order, plain or run-length decoded.
class RowReader {
public:
    RowReader(platform::ByteSource& source, const TargaHeader& header)
        : bytes_(header.pixelDepth / 8), width_(header.width),
          runLength_((header.imageType & 8) != 0),
          // A run-length row can take one header byte per pixel on top of its pixels.
          reader_(source,
                  std::max(kChunkBytes,
                           static_cast<std::size_t>(width_) * (bytes_ + (runLength_ ? 1 : 0))),
                  kChunkBytes) {}

    // Room for one row (and a pixel's slack); false when out of memory.
    bool Allocate() {
        try {
            row_.assign(static_cast<std::size_t>(width_) * bytes_ + 4, 0);
        } catch (...) {
            return false;
        }
        return true;
    }
    // The next row into Row(); false when the data has ended.
    bool Next() {
        if (runLength_) return DecodeRow(reader_, packet_, bytes_, width_, row_.data());
        const std::size_t need = static_cast<std::size_t>(width_) * bytes_;
        const std::size_t available = std::min(reader_.Ensure(need), need);
        if (available == 0) return false;
        std::memcpy(row_.data(), reader_.Data(), available);
        if (available < need) std::memset(row_.data() + available, 0, need - available);
        reader_.Advance(available);
        return true;
    }
    const BYTE* Row() const { return row_.data(); }
    int Bytes() const { return bytes_; }

private:
    int bytes_;
    LONG width_;
    bool runLength_;
    platform::ChunkedReader reader_;
    PacketState packet_;
    std::vector<BYTE> row_;
};

// One file row into the image's 8- or 24-bit row.
void PutRow(const BYTE* in, int bytes, LONG columns, BYTE* out) {
    if (bytes == 1)
        std::memcpy(out, in, static_cast<std::size_t>(columns));
    else if (bytes == 3)
        std::memcpy(out, in, static_cast<std::size_t>(columns) * 3);
    else
        for (LONG x = 0; x < columns; ++x)
            ToBgr(in + x * bytes, bytes, out + 3 * x);
}

} // namespace

int ReadTarga(platform::ByteSource& source, CodecImage& image, IProgressSink* sink,
              ProgressRecord* progress) {
    SetCodecProgress(sink, progress);
    if (const int code = ValidateCodecImage(image); code != kCodecOk) return code;
    if (image.pixels == nullptr) return kCodecBadImage;
    TargaHeader header{};
    if (const int code = ProbeTarga(source, header); code != kCodecOk) return code;
    if (const int code = CheckLayout(header, image); code != kCodecOk) return code;
    if (!source.Seek(PixelDataOffset(header))) return kCodecNotTarga;

    RowReader rows(source, header);
    if (!rows.Allocate()) return kCodecNoMemory;
    const LONG rowCount = std::min<LONG>(image.bottom - image.top + 1, header.height);
    const LONG columns = std::min<LONG>(image.right - image.left + 1, header.width);
    const bool topFirst = (header.descriptor & 0x20) != 0;
    // Bottom-first files hold the rows below the rectangle first.
    if (!topFirst)
        for (LONG skip = header.height - rowCount; skip > 0; --skip)
            if (!rows.Next()) break;
    const LONG imageHeight = image.header->biHeight;
    const int outBytes = image.header->biBitCount / 8;
    for (LONG j = 0; j < rowCount; ++j) {
        if (!rows.Next()) break;
        if (CodecStepCancelled()) return kCodecCancelled;
        const LONG pictureRow = topFirst ? image.top + j : image.top + rowCount - 1 - j;
        BYTE* out = image.pixels +
                    static_cast<std::size_t>(imageHeight - 1 - pictureRow) * image.rowBytes +
                    static_cast<std::size_t>(image.left) * outBytes;
        PutRow(rows.Row(), rows.Bytes(), columns, out);
    }
    if (image.palette != nullptr) {
        const int entries = ReadTargaPalette(source, image.palette);
        image.flags &= ~kGreyRampFlag;
        image.paletteEntries = entries;
        if (entries == 0) PutGreyRamp(image);
    }
    return kCodecOk;
}

namespace {

class Output {
public:
    Output(platform::OutputFile& file, std::size_t capacity) : file_(file), buffer_(capacity) {}
    BYTE* End() { return buffer_.data() + used_; }
    void Grow(std::size_t bytes) { used_ += bytes; }
    std::size_t Used() const { return used_; }
    bool Flush() {
        const bool ok = file_.Write(buffer_.data(), used_);
        used_ = 0;
        return ok;
    }

private:
    platform::OutputFile& file_;
    std::vector<BYTE> buffer_;
    std::size_t used_ = 0;
};

// One row of 3-byte pixels as packets that stay within segments of 128.
BYTE* EncodeRow(const BYTE* row, LONG width, BYTE* out) {
    int runs[128];
    for (LONG start = 0; start < width; start += 128) {
        const int length = static_cast<int>(std::min<LONG>(128, width - start));
        const BYTE* segment = row + static_cast<std::size_t>(start) * 3;
        int count = 0;
        for (int x = 0; x < length;) {
            int end = x + 1;
            while (end < length && std::memcmp(segment + 3 * end, segment + 3 * x, 3) == 0)
                ++end;
            runs[count++] = end - x;
            x = end;
        }
        const BYTE* at = segment; // first pixel not yet written
        int pending = 0;
        auto writeRaw = [&] {
            if (pending == 0) return;
            *out++ = static_cast<BYTE>(pending - 1);
            std::memcpy(out, at, static_cast<std::size_t>(pending) * 3);
            out += pending * 3;
            at += pending * 3;
            pending = 0;
        };
        for (int i = 0; i < count;) {
            if (runs[i] == 1) {
                if (i + 1 < count && runs[i + 1] == 1) {
                    pending += 2;
                    i += 2;
                } else if (i + 2 < count && runs[i + 1] == 2 && runs[i + 2] == 1) {
                    pending += 3;
                    i += 2;
                } else {
                    pending += 1;
                    i += 1;
                    writeRaw();
                }
            } else {
                writeRaw();
                *out++ = static_cast<BYTE>(0x80 + runs[i] - 1);
                std::memcpy(out, at, 3);
                out += 3;
                at += runs[i] * 3;
                i += 1;
            }
        }
        writeRaw();
    }
    return out;
}

} // namespace

int WriteTarga(const char* fileName, CodecImage& image, bool runLength, IProgressSink* sink,
               ProgressRecord* progress) {
    SetCodecProgress(sink, progress);
    if (const int code = ValidateCodecImage(image); code != kCodecOk) return code;
    if (image.pixels == nullptr) return kCodecBadImage;
    if (image.header->biBitCount != 24) return kCodecBadDepth;
    // Any return before Commit() removes the temporary, so a failed or
    // cancelled write leaves what was at the name untouched.
    platform::OutputFile file;
    if (!file.Create(fileName)) return kCodecCannotCreate;

    const LONG columns = image.right - image.left + 1;
    const LONG rows = image.bottom - image.top + 1;
    BYTE head[18 + kIdentificationBytes]{};
    head[0] = kIdentificationBytes;
    head[2] = runLength ? 10 : 2;
    platform::StoreU16Le(head + 12, static_cast<WORD>(columns));
    platform::StoreU16Le(head + 14, static_cast<WORD>(rows));
    head[16] = 24;
    std::memcpy(head + 18, kSoftware, sizeof kSoftware - 1);
    if (!file.Write(head, sizeof head)) return kCodecWriteError;

    const std::size_t rowBytes = static_cast<std::size_t>(columns) * 3;
    Output output(file, kChunkBytes + (runLength ? static_cast<std::size_t>(columns) * 9 / 2 : 0));
    const LONG imageHeight = image.header->biHeight;
    for (LONG pictureRow = image.bottom; pictureRow >= image.top; --pictureRow) {
        if (CodecStepCancelled()) return kCodecCancelled;
        // Room is counted against the plain chunk: the run-length slack
        // beyond it takes a row's worst case of four bytes a pixel.
        if (output.Used() + rowBytes >= kChunkBytes && !output.Flush()) return kCodecWriteError;
        const BYTE* in = image.pixels +
                         static_cast<std::size_t>(imageHeight - 1 - pictureRow) * image.rowBytes +
                         static_cast<std::size_t>(image.left) * 3;
        if (runLength) {
            BYTE* end = EncodeRow(in, columns, output.End());
            output.Grow(static_cast<std::size_t>(end - output.End()));
        } else {
            std::memcpy(output.End(), in, rowBytes);
            output.Grow(rowBytes);
        }
    }
    if (!output.Flush()) return kCodecWriteError;
    BYTE footer[26]{};
    std::memcpy(footer + 8, "TRUEVISION-XFILE.", 17);
    if (!file.Write(footer, sizeof footer) || !file.Commit()) return kCodecWriteError;
    return kCodecOk;
}

} // namespace rastrel
