#include "cli/main.h"

int main(int argc, char** argv) {
    return halvic::cli::Main(argc, argv);
}
