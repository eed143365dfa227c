#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <mutex>
#include <vector>

// The memory of the run's images and maps (cv::Mat's allocator): buffers
// of a megabyte and more on transparent huge pages, and buffers given back
// kept for the next image of their size.
//
// A 1920x1080 image is 507 pages of 4 KiB, each a page fault when it is
// first written, and a sequence run frees and allocates six of them per
// frame; on huge pages it is one fault, and a kept buffer none. Smaller
// buffers go to OpenCV's own allocator.
class ImageMemory : public cv::MatAllocator {
public:
    static constexpr std::size_t kHugePage = std::size_t{1} << 21;
    static constexpr std::size_t kSmallest = std::size_t{1} << 20; // smaller buffers are not placed here

    ImageMemory() = default;
    ImageMemory(const ImageMemory&) = delete;
    ImageMemory& operator=(const ImageMemory&) = delete;
    ~ImageMemory() override; // gives back the kept buffers; images made here must be gone

    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                           cv::UMatUsageFlags usage) const override;
    bool allocate(cv::UMatData* data, cv::AccessFlag flags, cv::UMatUsageFlags usage) const override;
    void deallocate(cv::UMatData* data) const override;

    // Buffers mapped from the system so far, for the tests.
    std::size_t mappings() const;

private:
    struct Block {
        void* address;
        std::size_t bytes;
    };
    void* take(std::size_t bytes) const;
    void give(void* address, std::size_t bytes) const;

    mutable std::mutex lock_;
    mutable std::vector<Block> kept_;
    mutable std::size_t mappings_ = 0;
};

// Makes ImageMemory the allocator of every cv::Mat the process makes from
// then on. Call once, before any image is made; the allocator is never
// destroyed.
void useImageMemory();
