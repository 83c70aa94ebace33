// JPEG files Velmora's writer never makes (CMYK, odd scan scripts), built
// with libjpeg directly for the reader tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <jpeglib.h>

#include "FileTestUtil.h"

namespace velmora::test {

// `samples` holds w * h * components interleaved samples, top row first.
// `configure` runs after jpeg_set_defaults.
inline Bytes CraftJpeg(int w, int h, int components, J_COLOR_SPACE space, const std::vector<uint8_t>& samples,
                       const std::function<void(jpeg_compress_struct&)>& configure = {}) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = components;
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  if (configure) configure(c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(samples.data() + static_cast<std::size_t>(c.next_scanline) * w * components);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  Bytes out(buffer, buffer + size);
  std::free(buffer);
  jpeg_destroy_compress(&c);
  return out;
}

// A valid progressive scan script for three components: the DC bits one
// plane at a time, then for each of the first `acComponents` components
// every AC coefficient on its own, one bit plane at a time. Two thousand
// or so scans, each legal, for a picture of any size.
inline std::vector<jpeg_scan_info> ManyScans(int acComponents) {
  constexpr int kTopBit = 10;  // the deepest point transform libjpeg accepts for 8-bit data
  std::vector<jpeg_scan_info> scans;
  auto add = [&](int ncomps, int comp, int ss, int se, int ah, int al) {
    jpeg_scan_info s{};
    s.comps_in_scan = ncomps;
    for (int i = 0; i < ncomps; ++i) s.component_index[i] = comp + i;
    s.Ss = ss, s.Se = se, s.Ah = ah, s.Al = al;
    scans.push_back(s);
  };
  add(3, 0, 0, 0, 0, kTopBit);
  for (int bit = kTopBit; bit > 0; --bit) add(3, 0, 0, 0, bit, bit - 1);
  for (int comp = 0; comp < acComponents; ++comp)
    for (int k = 1; k < 64; ++k) {
      add(1, comp, k, k, 0, kTopBit);
      for (int bit = kTopBit; bit > 0; --bit) add(1, comp, k, k, bit, bit - 1);
    }
  return scans;
}

}  // namespace velmora::test
