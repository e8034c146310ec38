// Links the Windows serial backend into a console program, so that every
// Win32 call it makes is resolved against the system libraries. It is only
// built, never run, on the test machines.
#include "LineSampler.h"
#include "SerialDevice.h"

#include <cstdio>
#include <memory>

int main()
{
    std::shared_ptr<ISerialDevice> device = CreateSystemSerialDevice();
    SerialLineSettings settings;
    const SerialError error = device->Open("\\\\.\\COM1", settings);
    std::printf("%d %s\n", int(error.kind), error.text.c_str());
    TLineSampler sampler(device);
    sampler.Stop();
    device->Close();
    return 0;
}
