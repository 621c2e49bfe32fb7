// Translation kit: turns a picture file of any format a translator
// understands into a bitmap. Translators live in platform/translators/, one
// file per format; the default roster knows them all.
#pragma once

#include <platform/app.h>
#include <platform/interface.h>
#include <platform/support.h>

// The bitmap type: the only output type the translators produce.
enum : uint32 { B_TRANSLATOR_BITMAP = tw_type_code("bits") };

struct translator_info;

// A destination that receives one decoded bitmap.
class BBitmapStream : public BPositionIO {
 public:
  explicit BBitmapStream(BBitmap* bitmap = nullptr);
  ~BBitmapStream() override;  // deletes a bitmap that was not detached
  BBitmapStream(const BBitmapStream&) = delete;
  BBitmapStream& operator=(const BBitmapStream&) = delete;

  // Hands the bitmap to the caller (who then owns it); B_ERROR when the stream
  // holds none.
  status_t DetachBitmap(BBitmap** outBitmap);

  ssize_t ReadAt(off_t position, void* buffer, size_t size) override;
  ssize_t WriteAt(off_t position, const void* buffer, size_t size) override;
  off_t Seek(off_t position, uint32 mode) override;
  off_t Position() const override;
  status_t GetSize(off_t* size) const override;

 private:
  friend class BTranslatorRoster;
  // For the roster: stores the decoded bitmap (the stream takes it).
  void tw_SetBitmap(BBitmap* bitmap);
  BBitmap* bitmap;
  off_t position = 0;
};

// Pictures the translators refuse (B_NO_MEMORY) instead of decoding: a side
// over 16384 pixels, or more pixels in all than 32 Mi (a 128 MiB bitmap).

class BTranslatorRoster {
 public:
  // The process's shared roster with every built-in translator.
  static BTranslatorRoster* Default();

  // Reads `source` whole, finds a translator that recognises it and writes
  // the result into `destination` (a BBitmapStream for B_TRANSLATOR_BITMAP).
  // B_NO_TRANSLATOR when none recognises it; B_ILLEGAL_DATA, B_BAD_DATA or
  // B_NO_MEMORY for a file that is truncated, hostile or over the pixel cap.
  status_t Translate(BPositionIO* source, const translator_info* info, BMessage* ioExtension,
                     BPositionIO* destination, uint32 wantOutType, uint32 hintType = 0,
                     const char* hintMIME = nullptr);

 private:
  BTranslatorRoster() = default;
};
