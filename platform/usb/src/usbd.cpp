// The bus driver's helper library: bounded descriptor walks and the
// select-configuration request.
#include "usbdlib.h"

namespace {

constexpr ULONG kTagUsbd = 0x64627355;  // 'Usbd'

PUCHAR endOf(PUSB_CONFIGURATION_DESCRIPTOR cfg)
{
    return reinterpret_cast<PUCHAR>(cfg) + cfg->wTotalLength;
}

}  // namespace

PUSB_COMMON_DESCRIPTOR USBD_ParseDescriptors(PVOID DescriptorBuffer, ULONG TotalLength,
                                             PVOID StartPosition, LONG DescriptorType)
{
    auto* p = static_cast<PUCHAR>(StartPosition);
    auto* end = static_cast<PUCHAR>(DescriptorBuffer) + TotalLength;
    if (p < static_cast<PUCHAR>(DescriptorBuffer))
        return nullptr;
    while (p + sizeof(USB_COMMON_DESCRIPTOR) <= end) {
        auto* pd = reinterpret_cast<PUSB_COMMON_DESCRIPTOR>(p);
        if (pd->bLength < sizeof(USB_COMMON_DESCRIPTOR) || p + pd->bLength > end)
            return nullptr;  // a broken descriptor ends the walk
        if (pd->bDescriptorType == DescriptorType)
            return pd;
        p += pd->bLength;
    }
    return nullptr;
}

PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, PVOID StartPosition, LONG InterfaceNumber,
    LONG AlternateSetting, LONG InterfaceClass, LONG InterfaceSubClass, LONG InterfaceProtocol)
{
    PVOID pos = StartPosition;
    PUCHAR end = endOf(ConfigurationDescriptor);
    for (;;) {
        auto* pd = USBD_ParseDescriptors(ConfigurationDescriptor, ConfigurationDescriptor->wTotalLength,
                                         pos, USB_INTERFACE_DESCRIPTOR_TYPE);
        if (!pd)
            return nullptr;
        auto* pi = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(pd);
        if (reinterpret_cast<PUCHAR>(pi) + sizeof(USB_INTERFACE_DESCRIPTOR) <= end &&
            pd->bLength >= sizeof(USB_INTERFACE_DESCRIPTOR) &&
            (InterfaceNumber == -1 || pi->bInterfaceNumber == InterfaceNumber) &&
            (AlternateSetting == -1 || pi->bAlternateSetting == AlternateSetting) &&
            (InterfaceClass == -1 || pi->bInterfaceClass == InterfaceClass) &&
            (InterfaceSubClass == -1 || pi->bInterfaceSubClass == InterfaceSubClass) &&
            (InterfaceProtocol == -1 || pi->bInterfaceProtocol == InterfaceProtocol))
            return pi;
        pos = reinterpret_cast<PUCHAR>(pd) + pd->bLength;
    }
}

PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                       PUSBD_INTERFACE_LIST_ENTRY InterfaceList)
{
    std::size_t cb = sizeof(struct _URB_SELECT_CONFIGURATION) - sizeof(USBD_INTERFACE_INFORMATION);
    for (auto* pe = InterfaceList; pe->InterfaceDescriptor; ++pe)
        cb += GET_USBD_INTERFACE_SIZE(pe->InterfaceDescriptor->bNumEndpoints);
    if (cb < sizeof(struct _URB_SELECT_CONFIGURATION))
        cb = sizeof(struct _URB_SELECT_CONFIGURATION);
    if (cb > 0xFFFF)
        return nullptr;
    auto* urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPoolNx, cb, kTagUsbd));
    if (!urb)
        return nullptr;
    std::memset(urb, 0, cb);
    urb->UrbHeader.Length = USHORT(cb);
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbSelectConfiguration.ConfigurationDescriptor = ConfigurationDescriptor;
    auto* p = reinterpret_cast<PUCHAR>(&urb->UrbSelectConfiguration.Interface);
    for (auto* pe = InterfaceList; pe->InterfaceDescriptor; ++pe) {
        PUSB_INTERFACE_DESCRIPTOR pid = pe->InterfaceDescriptor;
        auto* pii = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(p);
        pii->Length = USHORT(GET_USBD_INTERFACE_SIZE(pid->bNumEndpoints));
        pii->InterfaceNumber = pid->bInterfaceNumber;
        pii->AlternateSetting = pid->bAlternateSetting;
        pii->NumberOfPipes = pid->bNumEndpoints;
        for (ULONG i = 0; i < pii->NumberOfPipes; ++i)
            pii->Pipes[i].MaximumTransferSize = 0x10000;
        pe->Interface = pii;
        p += pii->Length;
    }
    return urb;
}
