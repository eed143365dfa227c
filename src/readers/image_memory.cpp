#include "readers/image_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace {

std::size_t roundedToHugePages(std::size_t bytes)
{
    return (bytes + ImageMemory::kHugePage - 1) / ImageMemory::kHugePage * ImageMemory::kHugePage;
}

// `bytes` (a whole number of huge pages) at an address that is a multiple of
// a huge page, so that the kernel can back all of it with huge pages.
void* mapAligned(std::size_t bytes)
{
    const std::size_t spare = ImageMemory::kHugePage;
    void* mapped = ::mmap(nullptr, bytes + spare, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + spare - 1) / spare * spare;
    if (aligned > start)
        ::munmap(mapped, aligned - start);
    if (aligned + bytes < start + bytes + spare)
        ::munmap(reinterpret_cast<void*>(aligned + bytes), start + spare - aligned);
    // Where the system has transparent huge pages only on request; a
    // refusal leaves ordinary pages.
    ::madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

} // namespace

cv::UMatData* ImageMemory::allocate(int dims, const int* sizes, int type, void* data, size_t* step,
                                    cv::AccessFlag flags, cv::UMatUsageFlags usage) const
{
    // The steps and size as OpenCV's own allocator works them out.
    std::size_t total = CV_ELEM_SIZE(type);
    for (int i = dims - 1; i >= 0; --i) {
        if (step) {
            if (data && step[i] != cv::Mat::AUTO_STEP) {
                CV_Assert(total <= step[i]);
                total = step[i];
            } else {
                step[i] = total;
            }
        }
        total *= static_cast<std::size_t>(sizes[i]);
    }
    if (data || total < kSmallest)
        return cv::Mat::getStdAllocator()->allocate(dims, sizes, type, data, step, flags, usage);
    auto* u = new cv::UMatData(this);
    u->data = u->origdata = static_cast<uchar*>(take(total));
    u->size = total;
    return u;
}

bool ImageMemory::allocate(cv::UMatData* data, cv::AccessFlag, cv::UMatUsageFlags) const
{
    return data != nullptr;
}

void ImageMemory::deallocate(cv::UMatData* u) const
{
    if (!u)
        return;
    CV_Assert(u->urefcount == 0 && u->refcount == 0);
    give(u->origdata, u->size);
    delete u;
}

// A kept buffer of the same number of huge pages, or a new one. Kept
// buffers of other sizes are given back to the system before one is mapped,
// so that keeping buffers never raises the memory a run needs at once.
void* ImageMemory::take(std::size_t bytes) const
{
    const std::size_t rounded = roundedToHugePages(bytes);
    std::vector<Block> unused;
    {
        std::lock_guard<std::mutex> hold(lock_);
        const auto same = std::find_if(kept_.begin(), kept_.end(), [&](const Block& b) { return b.bytes == rounded; });
        if (same != kept_.end()) {
            void* address = same->address;
            kept_.erase(same);
            return address;
        }
        unused.swap(kept_);
        ++mappings_;
    }
    for (const Block& b : unused)
        ::munmap(b.address, b.bytes);
    return mapAligned(rounded);
}

void ImageMemory::give(void* address, std::size_t bytes) const
{
    std::lock_guard<std::mutex> hold(lock_);
    kept_.push_back({address, roundedToHugePages(bytes)});
}

ImageMemory::~ImageMemory()
{
    for (const Block& b : kept_)
        ::munmap(b.address, b.bytes);
}

std::size_t ImageMemory::mappings() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return mappings_;
}

void useImageMemory()
{
    static ImageMemory* const memory = new ImageMemory;
    cv::Mat::setDefaultAllocator(memory);
}
