// Reading every image of a long multi-image file costs time in proportion to the images:
// prints the time of the image count plus reading each image for 10,000 and for 20,000
// images, best of 5, and their ratio (2 when linear, 4 when quadratic). Times
// are only compared with each other in the same run.
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "tests/pictorn/PictornSupport.h"

using namespace pictorn_test;

namespace {

double ReadAll(const std::filesystem::path& path, std::int32_t images) {
  const auto start = std::chrono::steady_clock::now();
  const pictorn_test::OpenFile file(path);  // not the Win32 function of that name
  const std::int32_t count = PictornImageCount(file.handle);
  if (count != images) std::printf("count %d, expected %d: %s\n", count, images, PictornLastError());
  for (std::int32_t i = 0; i < count; ++i) {
    const Page page = ReadImage(file.handle, i);
    if (page.result != kPictornOk) std::printf("image %d: %s\n", i, PictornLastError());
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  const TempDir dir;
  double best[2] = {1e9, 1e9};
  const std::int32_t sizes[2] = {10000, 20000};
  for (int k = 0; k < 2; ++k) {
    std::string error;
    const std::vector<esproduce::PageImage> pages(sizes[k], esproduce::MakeBitonalPage(64, 16, 72, 1));
    WriteFile(dir / "long.tif", esproduce::MakeTiff(pages, esproduce::Compression::CcittG4, &error));
    for (int run = 0; run < 5; ++run) best[k] = std::min(best[k], ReadAll(dir / "long.tif", sizes[k]));
    std::printf("%d images: %.3f s\n", sizes[k], best[k]);
  }
  std::printf("20,000 / 10,000 images: ratio %.2f (linear: 2)\n", best[1] / best[0]);
  return 0;
}
