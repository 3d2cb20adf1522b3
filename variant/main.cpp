// Entry point of the variant build.
#include <cstdio>

#include "platform/Platform.h"

int main(int argc, char** argv)
{
    std::string error;
    auto platform = krv::createPlatform(error);
    if (!platform) {
        std::fprintf(stderr, "KRV857xShowStatus: %s\n", error.c_str());
        return 2;
    }
    krv::Platform::setCurrent(platform.get());
    std::printf("KRV857xShowStatus: running on the %s backend; the production run is not built yet.\n",
                platform->backendName().c_str());
    krv::Platform::setCurrent(nullptr);
    return 0;
}
