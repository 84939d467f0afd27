/* Stands in for dfu-util with an NV38K attached in DFU mode, which Wine
 * cannot emulate: prints what dfu-util 0.11 lists for it. */
#include <stdio.h>

int main(void)
{
    fputs("dfu-util 0.11\n\n"
          "Found DFU: [0483:df13] ver=0200, devnum=7, cfg=1, intf=0, path=\"1-2\", alt=0, "
          "name=\"@NV38K Flash   /0x00000000/15*001Ka,155*001Kg\", "
          "serial=\"NV38K CUSTOMED KEYBOARD\"\n",
          stdout);
    return 0;
}
