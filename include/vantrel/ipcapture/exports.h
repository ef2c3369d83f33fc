// The library's exported entry points, by their plain names. Every factory makes the same
// driver object; delete it through the delete function of the same version.
#pragma once

#include "vantrel/ipcapture/ip_capture_driver.h"

extern "C" {
vantrel::ipcapture::IIPCaptureDriver* CreateIPCapture();
vantrel::ipcapture::IIPCaptureDriverEx* CreateIPCaptureEx();
vantrel::ipcapture::IIPCaptureDriverEx2* CreateIPCaptureEx2();
vantrel::ipcapture::IIPCaptureDriverEx3* CreateIPCaptureEx3();
vantrel::ipcapture::IIPCaptureDriverEx4* CreateIPCaptureEx4();
vantrel::ipcapture::IIPCaptureDriverEx5* CreateIPCaptureEx5();

void DeleteIPCapture(vantrel::ipcapture::IIPCaptureDriver* driver);
void DeleteIPCaptureEx(vantrel::ipcapture::IIPCaptureDriverEx* driver);
void DeleteIPCaptureEx2(vantrel::ipcapture::IIPCaptureDriverEx2* driver);
void DeleteIPCaptureEx3(vantrel::ipcapture::IIPCaptureDriverEx3* driver);
void DeleteIPCaptureEx4(vantrel::ipcapture::IIPCaptureDriverEx4* driver);
void DeleteIPCaptureEx5(vantrel::ipcapture::IIPCaptureDriverEx5* driver);
}
