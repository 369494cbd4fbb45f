#include <DorudURIVuruda.h>
#include <ReporterCmdline.h>
#include <ZProjection.h>

#include <iostream>

// Opens the LSM file named on the command line and prints its extents, the sum of plane 0 and the
// sum of the stack's maximum projection.
int main(int argc, char** argv) {
    new ReporterCmdline(8, &std::cout);
    if (argc < 2) return 2;
    try {
        DorudURIVuruda reader;
        reader.open(argv[1]);
        blitz::Array<unsigned short, 2> plane;
        reader.readArray(plane, 0, 0, 0, 1, 0, 0, 0, 0);
        const auto projected = korvane::analysis::projectZ(reader, {});
        std::cout << reader.getSizeX() << "x" << reader.getSizeY() << " sum=" << blitz::sum(plane)
                  << " projected=" << blitz::sum(std::get<blitz::Array<unsigned short, 2>>(*projected))
                  << std::endl;
    } catch (const BlitzFileIOException& e) {
        std::cerr << e.what();
        Reporter::removeReporter(-1);
        return 1;
    }
    Reporter::removeReporter(-1);
    return 0;
}
