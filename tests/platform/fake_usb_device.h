// A tiny device model for the bus tests: interface 0 with alternate setting
// 0 (no endpoints) and 1 (bulk OUT 0x02, bulk IN 0x86, bulk IN 0x88). What a
// bulk OUT sends is kept; the test queues what bulk INs get.
#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "platform/usb/usb_device_model.h"

class FakeUsbDevice : public usbsim::UsbDeviceModel {
public:
    struct Vendor {
        uint8_t request;
        uint16_t value, index;
        std::vector<uint8_t> data;
    };

    void attach(std::function<void()> notify) override
    {
        std::lock_guard<std::mutex> lk(mtx);
        fnNotify = std::move(notify);
    }

    std::vector<uint8_t> deviceDescriptor() override
    {
        return {18, 1, 0x00, 0x02, 0xFF, 0, 0, 64, 0x34, 0x12, 0x78, 0x56, 0x01, 0x00, 1, 2, 3, 1};
    }

    std::vector<uint8_t> configurationDescriptor(uint8_t) override
    {
        std::lock_guard<std::mutex> lk(mtx);
        if (!cfgOverride.empty())
            return cfgOverride;
        std::vector<uint8_t> v = {9, 2, 0, 0, 1, 1, 0, 0x80, 50,   // configuration
                                  9, 4, 0, 0, 0, 0xFF, 0, 0, 0,    // interface 0 alt 0
                                  9, 4, 0, 1, 3, 0xFF, 1, 2, 0,    // interface 0 alt 1
                                  7, 5, 0x02, 2, 0x00, 0x02, 0,    // bulk OUT 512
                                  7, 5, 0x86, 2, 0x00, 0x02, 0,    // bulk IN 512
                                  7, 5, 0x88, 2, 0x40, 0x00, 1};   // bulk IN 64
        v[2] = uint8_t(v.size());
        return v;
    }

    usbsim::UsbXfer setConfiguration(uint8_t b) override
    {
        std::lock_guard<std::mutex> lk(mtx);
        configs.push_back(b);
        return usbsim::UsbXfer::Ok;
    }

    usbsim::UsbXfer setInterface(uint8_t i, uint8_t a) override
    {
        std::lock_guard<std::mutex> lk(mtx);
        interfaces.push_back({i, a});
        return usbsim::UsbXfer::Ok;
    }

    usbsim::UsbXfer vendorOut(uint8_t r, uint16_t v, uint16_t i, const uint8_t* p, std::size_t cb) override
    {
        std::lock_guard<std::mutex> lk(mtx);
        vendors.push_back({r, v, i, std::vector<uint8_t>(p, p + cb)});
        return stallVendor ? usbsim::UsbXfer::Stall : usbsim::UsbXfer::Ok;
    }

    usbsim::UsbXfer bulkOut(uint8_t ep, const uint8_t* p, std::size_t cb) override
    {
        std::lock_guard<std::mutex> lk(mtx);
        outs.push_back({ep, std::vector<uint8_t>(p, p + cb)});
        if (echo)
            ins[ep == 0x02 ? 0 : 1].push_back(std::vector<uint8_t>(p, p + cb));
        return usbsim::UsbXfer::Ok;
    }

    usbsim::UsbXfer bulkIn(uint8_t ep, uint8_t* p, std::size_t cbMax, std::size_t* pcb) override
    {
        std::lock_guard<std::mutex> lk(mtx);
        ++cInCalls;
        auto& q = ins[ep == 0x86 ? 0 : 1];
        if (q.empty())
            return usbsim::UsbXfer::Pending;
        std::vector<uint8_t> v = q.front();
        q.pop_front();
        if (v.size() > cbMax)
            return usbsim::UsbXfer::Babble;
        std::copy(v.begin(), v.end(), p);
        *pcb = v.size();
        return usbsim::UsbXfer::Ok;
    }

    // Queues a packet for the IN endpoint (0: 0x86, 1: 0x88) and tells the bus.
    void push(int i, std::vector<uint8_t> v)
    {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> lk(mtx);
            ins[i].push_back(std::move(v));
            fn = fnNotify;
        }
        if (fn)
            fn();
    }

    std::mutex mtx;
    std::function<void()> fnNotify;
    std::vector<uint8_t> cfgOverride;
    std::vector<uint8_t> configs;
    std::vector<std::pair<uint8_t, uint8_t>> interfaces;
    std::vector<Vendor> vendors;
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> outs;
    std::deque<std::vector<uint8_t>> ins[2];
    bool echo = false;
    bool stallVendor = false;
    int cInCalls = 0;
};
