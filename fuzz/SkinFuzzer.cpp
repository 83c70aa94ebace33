// A skin file is whatever lies in the Skins folder: any bytes must load as
// a skin or be refused, never crash, and a loaded skin's palette must be
// complete.
#include <QByteArray>
#include <QPalette>
#include <cstdint>
#include <cstdlib>

#include "app/Skins.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QString error;
  const auto skin = velmora::ParseSkin(QStringLiteral("Fuzz"), bytes, &error);
  if (skin) (void)velmora::SkinPalette(*skin, QPalette());
  return 0;
}
