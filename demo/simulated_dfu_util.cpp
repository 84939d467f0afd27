// Stands in for "dfu-util -l" with an NV38K attached in DFU mode: prints the
// listing as dfu-util 0.11 does, with the keyboard between two other devices.
#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    if (argc != 2 || (std::strcmp(argv[1], "-l") != 0 && std::strcmp(argv[1], "--list") != 0)) {
        std::fprintf(stderr, "This stand-in only lists devices: %s -l\n", argv[0]);
        return 64;
    }
    std::fputs("dfu-util 0.11\n"
               "\n"
               "Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\n"
               "Copyright 2010-2021 Tormod Volden and Stefan Schmidt\n"
               "This program is Free Software and has ABSOLUTELY NO WARRANTY\n"
               "Please report bugs to http://sourceforge.net/p/dfu-util/tickets/\n"
               "\n"
               "Found Runtime: [046d:c52b] ver=1211, devnum=3, cfg=1, intf=3, path=\"1-1.2\", "
               "alt=0, name=\"UNKNOWN\", serial=\"UNKNOWN\"\n"
               "Found DFU: [0483:df13] ver=0200, devnum=7, cfg=1, intf=0, path=\"1-1.4\", alt=0, "
               "name=\"@NV38K Flash   /0x00000000/15*001Ka,155*001Kg\", "
               "serial=\"NV38K CUSTOMED KEYBOARD\"\n"
               "Found DFU: [0483:df11] ver=2200, devnum=9, cfg=1, intf=0, path=\"1-2\", alt=1, "
               "name=\"@Option Bytes  /0x1FFFF800/01*016 e\", serial=\"FFFFFFFEFFFF\"\n",
               stdout);
    return 0;
}
