#include "hix_rig.h"

namespace hixtest {

void setDefaults(int i)
{
    // The double setter stores every value and clears the status.
    hix_burst_set_param_double(i, "T1", 0.0);
    hix_burst_set_param_double(i, "T2", 0.0005);
    hix_burst_set_param_double(i, "TRM", 's');
    hix_burst_set_param_double(i, "CTM", 1);
    hix_burst_set_param_double(i, "CCH", 1);
}

void HixRig::SetUp()
{
    _pboard = KVdepSim100::makeHix5316();
    _pworld = std::make_unique<kvworld::World>();
    if (_fBoard)
        _pworld->plug(*_pboard);
    ASSERT_EQ(_pworld->loadDriver(KAVORQIR_MODULE), STATUS_SUCCESS);
    for (int i = 0; i < 2; ++i) {
        hix_burst_fini(i);
        setDefaults(i);
    }
}

void HixRig::TearDown()
{
    hix_burst_fini(0);
    hix_burst_fini(1);
    kvworld::Report r = _pworld->teardown();
    if (_fExpectCleanTeardown) {
        EXPECT_TRUE(r.clean()) << r.text();
    }
    _pworld.reset();
    _pboard.reset();
}

namespace {

std::vector<PortValue> from(const std::vector<KVdepSim100::PortAccess>& mp, size_t iFrom)
{
    std::vector<PortValue> v;
    for (size_t k = iFrom; k < mp.size(); ++k)
        v.emplace_back(mp[k]._iPort, mp[k]._uVal);
    return v;
}

}  // namespace

std::vector<PortValue> HixRig::writes() const
{
    auto pq = _pboard->qir();
    return pq ? from(pq->writes(), _iWriteMark) : std::vector<PortValue>{};
}

std::vector<PortValue> HixRig::reads() const
{
    auto pq = _pboard->qir();
    return pq ? from(pq->reads(), _iReadMark) : std::vector<PortValue>{};
}

void HixRig::mark()
{
    auto pq = _pboard->qir();
    _iWriteMark = pq ? pq->writes().size() : 0;
    _iReadMark = pq ? pq->reads().size() : 0;
}

void HixRig::setStep(uint32_t cTicks)
{
    KVdepSim100::FpgaOptions opt = _pboard->fpgaOptions();
    opt._cStep = cTicks;
    _pboard->setFpgaOptions(opt);
}

void HixRig::init(int fSim)
{
    ASSERT_EQ(hix_burst_init(0, fSim), 0) << hix_errortext(0);
    ASSERT_EQ(hix_failed(0), 0);
}

int HixRig::loop(int i, long cPasses)
{
    int r = 1;
    for (long k = 0; r == 1 && k < cPasses; ++k)
        r = hix_burst_loop(i);
    return r;
}

int HixRig::burst(int i, long cPasses)
{
    if (hix_burst_arm(i) != 0 || hix_burst_trigger(i) != 0)
        return -1;
    return loop(i, cPasses);
}

}  // namespace hixtest
