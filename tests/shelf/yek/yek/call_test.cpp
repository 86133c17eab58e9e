// The call objects against a small driver of the device interface, and the
// factories that make them.
#include "drvchan_fixture.h"
#include "yek_call.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

using namespace yek_test;
using namespace devio_test;

namespace {

typedef DrvChanTest CallTest;

TEST_F(CallTest, OpenUsesThePathAndChecksTheSignature)
{
    YekKernel call(&testProto(), szDev, "1");
    EXPECT_TRUE(call.isGood()) << call;
    ASSERT_EQ(k.ioLog().size(), 2u);
    EXPECT_EQ(k.ioLog()[0].path, "\\\\.\\ZEDOZ_EVU_0\\tst\\1");
    std::vector<Call> calls = drv.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].uCode, IOCTL_YEK_PROCHK);
    EXPECT_EQ(calls[0].ioc._dd._pchBase, testProto().szProto());
    EXPECT_EQ(calls[0].ioc._dd._pchLimDat, calls[0].ioc._dd._pchBase + std::strlen(testProto().szProto()) + 1);
    EXPECT_TRUE(isZero(calls[0].ioc._cd) && isZero(calls[0].ioc._cu) && isZero(calls[0].ioc._du));
    EXPECT_TRUE(call.canPut());
}

TEST_F(CallTest, FailedOpensAreFailedNotBad)
{
    struct Row {
        const char* szWhat;
        std::string sgDev;
        const char* szChan;
        std::string sgServerSig;
        const char* szErr;
        int iErr;
    };
    const Row mp[] = {
        {"no such device", "\\\\.\\ZEDOZ_EVU_4", "0", sgServerSig, "can't open", ERROR_FILE_NOT_FOUND},
        {"channel refused", szDev, "2", sgServerSig, "can't open", ERROR_DEV_NOT_EXIST},
        {"signature mismatch", szDev, "0", "(//)(/Int2:u_int/)", "DeviceIoControl(prochk) failed",
         ERROR_NO_SYSTEM_RESOURCES},
        {"path too long", std::string("\\\\.\\") + std::string(260, 'Z'), "0", sgServerSig, "can't open",
         ERROR_FILENAME_EXCED_RANGE},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        reload(r.sgServerSig);
        {
            YekKernel call(&testProto(), r.sgDev.c_str(), r.szChan);
            EXPECT_TRUE(call.isFail());
            EXPECT_FALSE(call.isBad());
            EXPECT_STREQ(call.szErr(), r.szErr);
            EXPECT_EQ(call.iErr(), r.iErr);
            // Nothing is sent on a failed call.
            TestMsg tm(1);
            size_t cCalls = drv.calls().size();
            call.putMsg(&tm, nullptr);
            EXPECT_EQ(drv.calls().size(), cCalls);
        }
        EXPECT_EQ(k.openHandles(), 0u);
    }
}

TEST_F(CallTest, PutGetAndExchangeBlocks)
{
    echo();
    YekKernel call(&testProto(), szDev, "0");
    ASSERT_TRUE(call.isGood());

    char mpchDown[] = "abc";
    YekData udDown(mpchDown, 3);
    TestMsg tmDown(5);
    EXPECT_TRUE(call.putMsg(&tmDown, &udDown).isGood());

    YekControlBuf ucb;
    char mpchUp[512];
    YekData udUp(mpchUp, sizeof mpchUp);
    EXPECT_TRUE(call.getMsg(&ucb, &udUp).isGood()) << call;
    ASSERT_NE(pTestMsg(&ucb), nullptr);
    EXPECT_EQ(pTestMsg(&ucb)->_id, 1005u);
    EXPECT_EQ(udUp.cData(), 3u);
    EXPECT_EQ(std::string(mpchUp, 3), "abc");

    std::vector<Call> calls = drv.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].uCode, IOCTL_YEK_PUT);
    const YekIoc& put = calls[1].ioc;
    EXPECT_EQ(put._cd._pchBase, reinterpret_cast<char*>(&tmDown));
    EXPECT_EQ(put._cd._pchLimDat, put._cd._pchBase + sizeof(TestMsg));
    EXPECT_EQ(put._cd._pchLimBuf, put._cd._pchLimDat);
    EXPECT_EQ(put._dd._pchBase, mpchDown);
    EXPECT_EQ(put._dd._pchLimBuf, mpchDown + 3);
    EXPECT_TRUE(isZero(put._cu) && isZero(put._du));
    EXPECT_EQ(drv.puts().at(0).sgCtrl, bytesOf(tmDown));

    EXPECT_EQ(calls[2].uCode, IOCTL_YEK_GET);
    const YekIoc& get = calls[2].ioc;
    EXPECT_EQ(get._cu._pchBase, reinterpret_cast<char*>(&ucb));
    EXPECT_EQ(get._cu._pchLimBuf, get._cu._pchBase + sizeof ucb) << "a fresh buffer announces its size";
    EXPECT_EQ(get._cu._pchLimDat, get._cu._pchLimBuf);
    EXPECT_EQ(get._du._pchBase, mpchUp);
    EXPECT_EQ(get._du._pchLimBuf, mpchUp + sizeof mpchUp);
    EXPECT_TRUE(isZero(get._cd) && isZero(get._dd));

    // The same control buffer again, its header reset to the buffer's size,
    // and no data.
    TestMsg tmXch(6);
    udUp = YekData(mpchUp, sizeof mpchUp);
    ucb = YekControlBuf();
    EXPECT_TRUE(call.xchMsg(&tmXch, nullptr, &ucb, &udUp).isGood()) << call;
    EXPECT_EQ(pTestMsg(&ucb)->_id, 1006u);
    EXPECT_EQ(udUp.cData(), 0u);
    calls = drv.calls();
    ASSERT_EQ(calls.size(), 4u) << "the exchange is one request";
    EXPECT_EQ(calls[3].uCode, IOCTL_YEK_XCH);
    EXPECT_EQ(calls[3].ioc._cd._pchBase, reinterpret_cast<char*>(&tmXch));
    EXPECT_TRUE(isZero(calls[3].ioc._dd));
    EXPECT_EQ(calls[3].ioc._cu._pchLimBuf, calls[3].ioc._cu._pchBase + sizeof ucb);
}

TEST_F(CallTest, ReceivingRecordIsWhatTheHeaderAnnounces)
{
    // A reused buffer whose header says 20 bytes: the record spans 20 bytes
    // and the driver refuses it, whether an answer waits or not; a buffer that
    // announces 128 is enough.
    for (bool fXch : {false, true}) {
        SCOPED_TRACE(fXch ? "xch" : "get");
        reload(sgServerSig);
        echo();
        YekKernel call(&testProto(), szDev, "0");
        ASSERT_TRUE(call.isGood());
        YekControlBuf ucb;
        ucb._size = 20;
        TestMsg tm(7);
        if (fXch) {
            call.xchMsg(&tm, nullptr, &ucb, nullptr);
        } else {
            ASSERT_TRUE(call.putMsg(&tm, nullptr).isGood());  // an answer is waiting
            call.getMsg(&ucb, nullptr);
        }
        EXPECT_TRUE(call.isFail());
        EXPECT_STREQ(call.szErr(), fXch ? "DeviceIoControl(xch) failed" : "DeviceIoControl(get) failed");
        const YekIoc ioc = drv.calls().back().ioc;
        EXPECT_EQ(ioc._cu._pchBase, reinterpret_cast<char*>(&ucb));
        EXPECT_EQ(ioc._cu._pchLimBuf, ioc._cu._pchBase + 20);
        EXPECT_EQ(ioc._cu._pchLimDat, ioc._cu._pchBase + 20);
        EXPECT_EQ(drv.puts().size(), fXch ? 0u : 1u) << "the exchange sent nothing";

        YekKernel again(&testProto(), szDev, "1");
        ASSERT_TRUE(again.isGood());
        ucb._size = 128;
        EXPECT_TRUE(again.xchMsg(&tm, nullptr, &ucb, nullptr).isGood()) << again;
        EXPECT_EQ(drv.calls().back().ioc._cu._pchLimBuf, reinterpret_cast<char*>(&ucb) + 128);
    }
}

TEST_F(CallTest, NullControlFailsAndSendsNothing)
{
    struct Row {
        const char* szWhat;
        std::function<void(YekKernel&, TestMsg*, YekControlBuf*)> f;
        const char* szErr;
    };
    const Row mp[] = {
        {"put", [](YekKernel& c, TestMsg*, YekControlBuf*) { c.putMsg(nullptr, nullptr); },
         "DeviceIoControl(put) failed"},
        {"get", [](YekKernel& c, TestMsg*, YekControlBuf*) { c.getMsg(nullptr, nullptr); },
         "DeviceIoControl(get) failed"},
        {"xch down", [](YekKernel& c, TestMsg*, YekControlBuf* pucb) { c.xchMsg(nullptr, nullptr, pucb, nullptr); },
         "DeviceIoControl(xch) failed"},
        {"xch up", [](YekKernel& c, TestMsg* ptm, YekControlBuf*) { c.xchMsg(ptm, nullptr, nullptr, nullptr); },
         "DeviceIoControl(xch) failed"},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        echo();
        YekKernel call(&testProto(), szDev, "0");
        ASSERT_TRUE(call.isGood());
        size_t cCalls = drv.calls().size();
        TestMsg tm(1);
        YekControlBuf ucb;
        r.f(call, &tm, &ucb);
        EXPECT_TRUE(call.isFail());
        EXPECT_FALSE(call.isBad());
        EXPECT_STREQ(call.szErr(), r.szErr);
        EXPECT_EQ(call.iErr(), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(drv.calls().size(), cCalls) << "no request";
    }
}

TEST_F(CallTest, FailedRequestsStopTheCall)
{
    struct Row {
        ULONG uCode;
        const char* szErr;
    };
    const Row mp[] = {
        {IOCTL_YEK_PUT, "DeviceIoControl(put) failed"},
        {IOCTL_YEK_GET, "DeviceIoControl(get) failed"},
        {IOCTL_YEK_XCH, "DeviceIoControl(xch) failed"},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szErr);
        echo();
        YekKernel call(&testProto(), szDev, "0");
        ASSERT_TRUE(call.isGood());
        drv.failNext(r.uCode, STATUS_DEVICE_NOT_CONNECTED);
        TestMsg tm(1);
        YekControlBuf ucb;
        if (r.uCode == IOCTL_YEK_PUT)
            call.putMsg(&tm, nullptr);
        else if (r.uCode == IOCTL_YEK_GET)
            call.getMsg(&ucb, nullptr);
        else
            call.xchMsg(&tm, nullptr, &ucb, nullptr);
        EXPECT_TRUE(call.isFail());
        EXPECT_FALSE(call.isBad());
        EXPECT_STREQ(call.szErr(), r.szErr);
        EXPECT_EQ(call.iErr(), ERROR_DEVICE_NOT_CONNECTED);
        size_t cCalls = drv.calls().size();
        call.xchMsg(&tm, nullptr, &ucb, nullptr);
        EXPECT_EQ(drv.calls().size(), cCalls);
    }
}

// A call whose transfers are scripted.
class ScriptCall : public YekCall {
public:
    ScriptCall() : YekCall(&testProto()) {}
    Failables& putMsg(const YekControl*, const YekData*) override
    {
        _sgLog += "put;";
        if (_fFailPut)
            setFailed("put", 1);
        return *this;
    }
    Failables& getMsg(YekControlBuf*, YekData*) override
    {
        _sgLog += "get;";
        return *this;
    }
    std::string _sgLog;
    bool _fFailPut = false;
};

TEST(YekCall, ExchangeGetsOnlyAfterAGoodPut)
{
    TestMsg tm(1);
    YekControlBuf ucb;
    ScriptCall good;
    good.xchMsg(&tm, nullptr, &ucb, nullptr);
    EXPECT_EQ(good._sgLog, "put;get;");
    ScriptCall failing;
    failing._fFailPut = true;
    EXPECT_TRUE(failing.xchMsg(&tm, nullptr, &ucb, nullptr).isFail());
    EXPECT_EQ(failing._sgLog, "put;");
}

TEST(Factories, Fields)
{
    struct Row {
        const char* sz;
        int i;
        const char* szField;
    };
    const Row mp[] = {
        {"k:a:b", 0, "k:a:b"}, {"k:a:b", 1, "a:b"}, {"k:a:b", 2, "b"}, {"k:a:b", 3, ""},
        {"k:", 1, ""},         {"k::b", 1, ":b"},   {"k::b", 2, "b"},  {"k", 1, ""},
        {"", 1, ""},           {"a:b", -1, ""},
    };
    for (const Row& r : mp)
        EXPECT_STREQ(szField(r.sz, r.i), r.szField) << r.sz << " " << r.i;
    EXPECT_STREQ(szField(nullptr, 1), "");
    EXPECT_EQ(szField(nullptr, 0), nullptr);
}

TEST(Factories, KernelImplementationIsRegisteredAtLoad)
{
    EXPECT_EQ(Factories::mpPff[0], &fiKernel);
    EXPECT_STREQ(fiKernel.szName(), "kernel");
    EXPECT_EQ(Factories::mpPff[3], nullptr);

    struct Row {
        const char* szArg;
        const char* szPath;  // null: no factory
    };
    const Row mp[] = {
        {"k:x", "x"},
        {"kernel:\\\\.\\ZEDOZ_EVU_0", "\\\\.\\ZEDOZ_EVU_0"},
        {"k", ""},
        {"kx:y:z", "y:z"},
        {"q:x", nullptr},
        {"", nullptr},
        {nullptr, nullptr},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szArg ? r.szArg : "null");
        std::unique_ptr<Factory> pf(fact.createFactory(r.szArg));
        if (!r.szPath) {
            EXPECT_EQ(pf, nullptr);
            continue;
        }
        FactoryKernel* pfk = dynamic_cast<FactoryKernel*>(pf.get());
        ASSERT_NE(pfk, nullptr);
        EXPECT_STREQ(pfk->szPath(), r.szPath);
        EXPECT_NE(pfk->szPath(), r.szArg) << "its own copy";
    }
}

TEST_F(CallTest, KernelFactoryOpensTheChannelOfItsIndex)
{
    std::unique_ptr<Factory> pf(Factories().createFactory("kernel:\\\\.\\ZEDOZ_EVU_0"));
    ASSERT_NE(pf, nullptr);
    YekCall* pum = nullptr;
    Failables fa = pf->createYek(&pum, &testProto(), 1);
    EXPECT_TRUE(fa.isGood()) << fa;
    ASSERT_NE(pum, nullptr);
    EXPECT_EQ(k.ioLog().at(0).path, "\\\\.\\ZEDOZ_EVU_0\\tst\\1");
    EXPECT_TRUE(pum->isGood());
    delete pum;
    EXPECT_EQ(k.openHandles(), 0u);

    std::unique_ptr<Factory> pfMissing(fact.createFactory("k:\\\\.\\ZEDOZ_EVU_6"));
    ScriptCall stale;
    pum = &stale;
    fa = pfMissing->createYek(&pum, &testProto(), 0);
    EXPECT_EQ(pum, nullptr);
    EXPECT_TRUE(fa.isFail());
    EXPECT_STREQ(fa.szErr(), "can't open");
    EXPECT_EQ(fa.iErr(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(k.openHandles(), 0u);
}

// An implementation that takes modes beginning with its letter.
class LetterImplementation : public FactoryImplementation {
public:
    struct Made : Factory {
        explicit Made(char ch) : _ch(ch) {}
        Failables createYek(YekCall**, const YekProto*, int) override { return Failables(); }
        char _ch;
    };
    LetterImplementation(char chMode, char chMark) : FactoryImplementation("letter"), _chMode(chMode), _chMark(chMark)
    {
        Factories().registerFactoryImplementation(this);
    }
    Factory* createFactory(const char* szMode, const char*) override
    {
        ++_cAsked;
        return szMode && szMode[0] == _chMode ? new Made(_chMark) : nullptr;
    }
    char _chMode, _chMark;
    int _cAsked = 0;
};

char markOf(Factory* pf)
{
    std::unique_ptr<Factory> p(pf);
    auto* pm = dynamic_cast<LetterImplementation::Made*>(p.get());
    return pm ? pm->_ch : (p ? 'K' : '-');
}

TEST(Factories, ImplementationsAreAskedInRegistrationOrder)
{
    {
        LetterImplementation first('z', '1');
        LetterImplementation second('z', '2');
        EXPECT_EQ(Factories::mpPff[1], &first);
        EXPECT_EQ(Factories::mpPff[2], &second);
        EXPECT_EQ(markOf(fact.createFactory("z:a")), '1');
        EXPECT_EQ(second._cAsked, 0) << "the walk stops at the first factory";
        EXPECT_EQ(markOf(fact.createFactory("k:a")), 'K');
        EXPECT_EQ(first._cAsked, 1);
        EXPECT_EQ(markOf(fact.createFactory("y:a")), '-');
        EXPECT_EQ(second._cAsked, 1);

        EXPECT_DEATH(LetterImplementation('w', '3'), "Assertion failed: 0, file yek_user, line 264");
    }
    // An implementation that goes leaves the table.
    EXPECT_EQ(Factories::mpPff[1], nullptr);
    EXPECT_EQ(markOf(fact.createFactory("z:a")), '-');
    {
        LetterImplementation a('z', 'a');
        {
            LetterImplementation b('z', 'b');
        }
        LetterImplementation c('y', 'c');
        EXPECT_EQ(Factories::mpPff[2], &c);
        EXPECT_EQ(markOf(fact.createFactory("y:")), 'c');
    }
    EXPECT_EQ(Factories::mpPff[0], &fiKernel);
    EXPECT_EQ(Factories::mpPff[1], nullptr);
}

}  // namespace
