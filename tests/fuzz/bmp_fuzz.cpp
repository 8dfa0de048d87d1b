// A picture file: the input is the file's bytes. The header check decides as
// the picture loader does; a picture it lets through goes on to the decoder
// and the conversion the loader applies, so anything the check lets pass
// must be safe to decode.
#include "tests/fuzz/fuzz_entries.h"

#include "platform/core/bmp_header.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

int FuzzBmpPicture(const uint8_t *data, size_t size) {
  if (size > kBmpMaxFileBytes || !BmpHeadersSound(data, size))
    return 0;
  QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                             static_cast<qsizetype>(size));
  QBuffer buffer(&bytes);
  QImageReader reader(&buffer, "bmp");
  QImage image;
  if (reader.read(&image) && !image.isNull())
    image = image.convertToFormat(QImage::Format_RGB32);
  return 0;
}
