// A program of someone else's that scores a pair with the installed library.
//   consumer LEFT RIGHT DEPTH_LEFT_A DEPTH_RIGHT_A DEPTH_LEFT_B DEPTH_RIGHT_B CAMERA
#include <morvex/morvex.h>
#include <opencv2/imgcodecs.hpp>

#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 8)
        return 2;
    morvex::PairImages images;
    cv::Mat* const targets[] = {&images.viewLeft,   &images.viewRight,  &images.depthLeftA,
                                &images.depthRightA, &images.depthLeftB, &images.depthRightB};
    for (int i = 0; i < 6; ++i)
        *targets[i] = cv::imread(argv[i + 1], cv::IMREAD_GRAYSCALE);
    try {
        const morvex::PairResult result = morvex::score(images, morvex::Camera::fromFile(argv[7]));
        std::cout << "MORVEX Score: " << result.scoreText() << std::endl;
    } catch (const morvex::Error& e) {
        std::cerr << "consumer: " << e.what() << std::endl;
        return 1;
    }
}
