#include "frame/frame.hpp"

int main(int argc, char **argv)
{
    return frame_main(argc, argv);
}
