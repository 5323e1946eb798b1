// The command layer's test program: catalogue, D-Bus client and wrappers.
#include "gui_test_support.h"

int main(int argc, char **argv)
{
    return guitest::run_tests(argc, argv);
}
