#include "device/failure_advice.h"

#include "device/device_flags.h"
#include "device/ftdi_sio.h"

namespace {

// What a user without FTDI's driver needs, where the library looks for it.
#ifdef _WIN32
constexpr const char* D2XX_REMEDY =
    "install FTDI's D2XX driver (its setup program puts ftd2xx.dll in the Windows system folder), "
    "or put ftd2xx.dll beside this program";
#else
constexpr const char* D2XX_REMEDY =
    "install FTDI's D2XX driver: copy libftd2xx.so from FTDI's D2XX download for this machine's "
    "architecture into /usr/local/lib and run ldconfig (or name its folder in LD_LIBRARY_PATH)";
#endif

Advice ftdiSioAdvice(const std::string& serialNumber) {
    const std::string busPath = ftdiSioBusPath(SYS_ROOT, serialNumber);
    Advice advice;
    advice.cause = "the kernel's ftdi_sio driver holds the chip" +
                   (busPath.empty() ? " while it is bound to it" : " (bound to " + busPath + ")");
    advice.fix = "sudo rmmod ftdi_sio usbserial, or unbind only this device: echo " +
                 (busPath.empty() ? "<bus path>" : busPath) + " | sudo tee " + SYS_ROOT +
                 FTDI_SIO_FOLDER + "/unbind";
    advice.commands = true;
    return advice;
}

}  // namespace

Advice adviceFor(Trouble trouble, const std::string& serialNumber, const char* again) {
    const std::string replug = std::string("unplug the device, plug it in again and ") + again;
    switch (trouble) {
        case Trouble::NoD2xxLibrary:
            return {"", D2XX_REMEDY};
        case Trouble::DeviceListFailed:
            return {"",
                    replug + "; if D2XX still cannot list the devices, install its driver again"};
        case Trouble::NoUsb3000:
            return {"", std::string("plug the USB-3000 in, then ") + again +
                            " (usb3k-probe lists the FTDI devices D2XX finds)"};
        case Trouble::NoSuchSerial:
            return {"", "plug that USB-3000 in, or name one usb3k-probe lists"};
        case Trouble::InUseByDecoder:
            return {"", "close the Usb3kDecoder that holds it, or use another USB-3000"};
        case Trouble::InUseByBridge:
            return {"", "call USB3KBridge.shutdown() to free it, or use another USB-3000"};
        case Trouble::HeldByFtdiSio:
            return ftdiSioAdvice(serialNumber);
        case Trouble::HeldByAnotherProcess:
            return {"another process has the device open (D2XX lists it as opened)",
                    std::string("close that program, then ") + again};
        case Trouble::HeldElsewhere:
            return {
                "another class loader of this JVM, or another process, has the device open"
                " (D2XX lists it as opened)",
                std::string("close the decoder or the program that holds it, then ") + again};
        case Trouble::GoneWhenOpened:
            return {"the device was gone when it was opened",
                    std::string("check its cable, then ") + again};
        case Trouble::OpenRefused:
            return {"", replug};
        case Trouble::NotReady:
            return {"", replug + " (usb3k-probe shows which step fails)"};
        case Trouble::NotResponding:
            return {"it is still attached but answers nothing usable",
                    std::string("check the device's power, unplug it and plug it in again, then ") +
                        again};
        case Trouble::Gone:
            return {"", std::string("plug the device in again (check its cable), then ") + again};
    }
    return {};
}

Trouble openFailureTrouble(const FT_DEVICE_LIST_INFO_NODE& entry, FT_STATUS status) {
    if ((entry.Flags & DEVICE_FLAG_OPENED) != 0) {
        return Trouble::HeldByAnotherProcess;
    }
    if (status == FT_DEVICE_NOT_OPENED && systemHasFtdiSio()) {
        return Trouble::HeldByFtdiSio;
    }
    if (status == FT_DEVICE_NOT_FOUND) {
        return Trouble::GoneWhenOpened;
    }
    return Trouble::OpenRefused;
}
