#include "log_rig.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <system_error>
#include <type_traits>

namespace hixlogtest {

bool BurstLib::load()
{
    _h = dlopen(HIX_BURST_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!_h) {
        ADD_FAILURE() << "cannot load " << HIX_BURST_MODULE << ": " << dlerror();
        return false;
    }
    auto bind = [this](auto*& pf, const char* sz) {
        pf = reinterpret_cast<std::remove_reference_t<decltype(pf)>>(dlsym(_h, sz));
        if (!pf)
            ADD_FAILURE() << sz << " not exported";
    };
    bind(init, "hix_burst_init");
    bind(fini, "hix_burst_fini");
    bind(setInt, "hix_burst_set_param_int");
    bind(arm, "hix_burst_arm");
    bind(trigger, "hix_burst_trigger");
    bind(loop, "hix_burst_loop");
    bind(getCounts, "hix_burst_get_counts");
    bind(errortext, "hix_errortext");
    return true;
}

void BurstLib::unload()
{
    if (!_h)
        return;
    dlclose(_h);
    _h = nullptr;
    if (void* h = dlopen(HIX_BURST_MODULE, RTLD_NOW | RTLD_NOLOAD)) {
        ADD_FAILURE() << "hix_burst stayed loaded: its static objects were not taken down";
        dlclose(h);
    }
}

WatchedBoard::WatchedBoard()
    : EzUsbBoard("HIX-5316", KVdepSim100::modelHix5316, KVdepSim100::boardIdentity(KVdepSim100::modelHix5316))
{
}

usbsim::UsbXfer WatchedBoard::vendorOut(uint8_t bRequest, uint16_t wValue, uint16_t wIndex, const uint8_t* pData,
                                        std::size_t cb)
{
    if (onVendorOut)
        onVendorOut();
    return EzUsbBoard::vendorOut(bRequest, wValue, wIndex, pData, cb);
}

void LogRig::SetUp()
{
    _pdirBase = std::make_unique<kvtest::ScratchDir>("hixlog");
    _dirBase = _pdirBase->path();
    ASSERT_FALSE(_dirBase.empty());
    _dirCwd = _dirBase / "cwd";
    _dirProfile = _dirBase / "profile";
    _sgCwdBefore = fs::current_path().string();
    if (const char* sz = getenv("USERPROFILE"))
        _osgProfileBefore = sz;
    freshDirs();
}

void LogRig::TearDown()
{
    lib.unload();
    if (_pworld) {
        kvworld::Report r = _pworld->teardown();
        EXPECT_TRUE(r.clean()) << r.text();
        _pworld.reset();
    }
    _pboard.reset();
    fs::current_path(_sgCwdBefore);
    if (_osgProfileBefore)
        setenv("USERPROFILE", _osgProfileBefore->c_str(), 1);
    else
        unsetenv("USERPROFILE");
    _pdirBase.reset();
}

void LogRig::freshDirs(bool fProfileSet)
{
    fs::current_path(_dirBase);
    for (const auto& e : fs::directory_iterator(_dirBase))
        fs::remove_all(e.path());
    _dirProfile = _dirBase / "profile";
    fs::create_directories(_dirCwd);
    fs::create_directories(_dirProfile);
    fs::current_path(_dirCwd);
    if (fProfileSet)
        setenv("USERPROFILE", _dirProfile.c_str(), 1);
    else
        unsetenv("USERPROFILE");
}

void LogRig::longProfile()
{
    _dirProfile = _dirBase / std::string(150, 'p') / std::string(150, 'q');
    fs::create_directories(_dirProfile);
    setenv("USERPROFILE", _dirProfile.c_str(), 1);
}

void LogRig::write(const fs::path& p, const std::string& sg)
{
    kvtest::writeFile(p, sg);
}

std::string LogRig::read(const fs::path& p)
{
    std::ifstream is(p, std::ios::binary);
    std::ostringstream os;
    os << is.rdbuf();
    return os.str();
}

bool LogRig::isOpen(const fs::path& p)
{
    std::error_code ec;
    fs::path target = fs::canonical(p, ec);
    if (ec)
        return false;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code ecLink;
        fs::path link = fs::read_symlink(fd.path(), ecLink);
        if (!ecLink && link == target)
            return true;
    }
    return false;
}

void LogRig::boot()
{
    _pboard = std::make_unique<WatchedBoard>();
    _pworld = std::make_unique<kvworld::World>();
    _pworld->plug(*_pboard);
    ASSERT_EQ(_pworld->loadDriver(KAVORQIR_MODULE), STATUS_SUCCESS);
}

}  // namespace hixlogtest
