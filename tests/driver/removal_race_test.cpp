// A board's removal while a request is inside one of its dispatch routines,
// on either board, for every request kind and either channel digit: the
// removal that follows a first start that failed, and the manager's plain
// removal with a handle opened after it counted none. The request is held at
// the driver's named point; the removal waits for it before the board goes,
// and a request that comes once the removal has begun is refused without
// touching the board.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "pci_support.h"
#include "qirc.h"
#include "wmusb.h"

namespace {

using drvtest::Bufs;
using kvtest::JoiningThread;

enum class Road { FailedFirstStart, PlainRemove };
enum class Kind { Create, Read, Put, Get, Xch, Prochk, Cleanup, Close };

struct RemovalRace {
    Road eRoad;
    Kind eKind;
    int iChan;          // the held request's digit; the refused one takes the other
    NTSTATUS stHeld;    // what the held request gets once it goes on
};

std::string nameOf(const RemovalRace& c)
{
    static const char* const mpszRoad[] = {"FailedFirstStart", "PlainRemove"};
    static const char* const mpszKind[] = {"Create", "Read", "Put", "Get", "Xch", "Prochk", "Cleanup", "Close"};
    return std::string(mpszRoad[static_cast<int>(c.eRoad)]) + mpszKind[static_cast<int>(c.eKind)] +
           std::to_string(c.iChan);
}

void PrintTo(const RemovalRace& c, std::ostream* pos)
{
    *pos << nameOf(c);
}

const Kind kinds[] = {Kind::Create, Kind::Read, Kind::Put, Kind::Get, Kind::Xch, Kind::Prochk, Kind::Cleanup, Kind::Close};

bool isTransfer(Kind e)
{
    return e == Kind::Put || e == Kind::Get || e == Kind::Xch;
}

// What a request gets that comes once the removal has begun: an open is
// refused as one of a removed board, a read or a device control fails as a
// request of a removed board, a cleanup and a close succeed.
NTSTATUS refusedStatus(Kind e)
{
    switch (e) {
    case Kind::Create: return STATUS_NO_SUCH_DEVICE;
    case Kind::Cleanup:
    case Kind::Close: return STATUS_SUCCESS;
    default: return STATUS_DEVICE_NOT_CONNECTED;
    }
}

// The USB board: no start in force after the failed one, so a channel is
// left behind at once and its transfers fail; after the plain removal's
// deconfigure its pipes are gone.
std::vector<RemovalRace> usbRaces()
{
    std::vector<RemovalRace> r;
    for (Road eRoad : {Road::FailedFirstStart, Road::PlainRemove})
        for (Kind e : kinds)
            for (int iChan : {0, 1}) {
                NTSTATUS st = STATUS_SUCCESS;
                if (isTransfer(e))
                    st = eRoad == Road::FailedFirstStart ? STATUS_DEVICE_NOT_CONNECTED : STATUS_INVALID_PARAMETER;
                r.push_back(RemovalRace{eRoad, e, iChan, st});
            }
    return r;
}

// The PCI board: no channel opens on a board that is not started, so only
// an open can be inside it at a failed first start; the plain removal has
// stopped the board before it waits.
std::vector<RemovalRace> pciRaces()
{
    std::vector<RemovalRace> r;
    for (int iChan : {0, 1})
        r.push_back(RemovalRace{Road::FailedFirstStart, Kind::Create, iChan, STATUS_NO_SUCH_DEVICE});
    for (Kind e : kinds)
        for (int iChan : {0, 1}) {
            NTSTATUS st = STATUS_SUCCESS;
            if (e == Kind::Create)
                st = STATUS_NO_SUCH_DEVICE;
            else if (isTransfer(e))
                st = STATUS_DEVICE_NOT_CONNECTED;
            r.push_back(RemovalRace{Road::PlainRemove, e, iChan, st});
        }
    return r;
}

// The thread of the plain removal is held once it has counted the files.
thread_local bool t_fRemover = false;

template <class Base>
class RemovalRaceTest : public Base, public ::testing::WithParamInterface<RemovalRace> {
protected:
    // The board plugged and added: its first start made to fail, or the
    // board started.
    virtual void plugAndAddFor(Road eRoad) = 0;
    // The open path behind the device name of a channel digit.
    virtual std::string rest(int iChan) const = 0;
    // A control the board's protocol knows, and the protocol's signature.
    virtual std::vector<char> control() const = 0;
    virtual std::string signature() const = 0;

    void run();

private:
    // A request of the kind on the handle (an open of the digit).
    NTSTATUS request(Kind e, int iChan, HANDLE h, Bufs& b);
};

template <class Base>
NTSTATUS RemovalRaceTest<Base>::request(Kind e, int iChan, HANDLE h, Bufs& b)
{
    switch (e) {
    case Kind::Create: {
        HANDLE hNew = nullptr;
        return this->open(&hNew, rest(iChan));
    }
    case Kind::Read: {
        char mpch[cbYekReadMin] = {};
        ULONG_PTR cb = 0;
        return kstub::io::read(h, mpch, sizeof mpch, &cb);
    }
    case Kind::Put: {
        std::vector<char> ctrl = control();
        return this->ioctl(h, IOCTL_YEK_PUT, b.put(ctrl.data(), ctrl.size()));
    }
    case Kind::Get: return this->ioctl(h, IOCTL_YEK_GET, b.get());
    case Kind::Xch: {
        std::vector<char> ctrl = control();
        return this->ioctl(h, IOCTL_YEK_XCH, b.xch(ctrl.data(), ctrl.size()));
    }
    case Kind::Prochk: return this->ioctl(h, IOCTL_YEK_PROCHK, b.prochk(signature()));
    case Kind::Cleanup:
    case Kind::Close: return this->close(h);
    }
    return STATUS_UNSUCCESSFUL;
}

template <class Base>
void RemovalRaceTest<Base>::run()
{
    const RemovalRace& c = this->GetParam();
    kstub::Kernel& k = this->k();
    plugAndAddFor(c.eRoad);
    Card* pca = static_cast<Card*>(this->fdo()->DeviceExtension);
    // The plain removal goes on once the handles are open: the manager
    // found none when it counted.
    std::atomic<bool> fRemoverHeld{false}, fRemoverGo{false}, fRemoved{false};
    struct HookScope {
        kstub::Kernel& k;
        ~HookScope() { k.setHook(kstub::Hook::FilesCounted, nullptr); }
    } hookScope{k};
    k.setHook(kstub::Hook::FilesCounted, [&] {
        if (t_fRemover && !fRemoverHeld.exchange(true))
            kvtest::eventually([&] { return fRemoverGo.load(); });
    });
    NTSTATUS stRemoval = STATUS_PENDING;
    auto removal = [&] {
        if (c.eRoad == Road::FailedFirstStart) {
            stRemoval = this->start();
        } else {
            t_fRemover = true;
            stRemoval = k.pnp().remove(this->pdev->pdo());
        }
        fRemoved = true;
    };
    std::unique_ptr<JoiningThread> tRemoval;
    if (c.eRoad == Road::PlainRemove) {
        tRemoval.reset(new JoiningThread(removal, [&] { fRemoverGo = true; }));
        ASSERT_TRUE(kvtest::eventually([&] { return fRemoverHeld.load(); }));
    }
    HANDLE h = nullptr, hOther = nullptr;
    if (c.eKind != Kind::Create) {
        ASSERT_EQ(this->open(&h, rest(c.iChan)), STATUS_SUCCESS);
        ASSERT_EQ(this->open(&hOther, rest(1 - c.iChan)), STATUS_SUCCESS);
    }
    // A close passes cleanup first.
    drvtest::PointHold hold(eWmPointDispatch, c.eKind == Kind::Close ? 1 : 0);
    Bufs bHeld, bRefused;
    NTSTATUS stHeld = STATUS_PENDING;
    JoiningThread tHeld([&] { stHeld = request(c.eKind, c.iChan, h, bHeld); }, [&] { hold.release(); });
    ASSERT_TRUE(hold.waitHeld());
    if (c.eRoad == Road::FailedFirstStart)
        tRemoval.reset(new JoiningThread(removal));
    else
        fRemoverGo = true;
    ASSERT_TRUE(kvtest::eventually([&] { return fRemoved || k.waitersOn(&pca->_rml.RemoveEvent) == 1; }));
    EXPECT_FALSE(fRemoved) << "the board was removed while a request was in its dispatch routine";
    uint64_t cLines = this->log().total();
    EXPECT_EQ(request(c.eKind, 1 - c.iChan, hOther, bRefused), refusedStatus(c.eKind))
        << "a request once the removal has begun";
    EXPECT_EQ(this->log().total(), cLines) << "the refused request reached the board";
    hold.release();
    tHeld.join();
    tRemoval->join();
    EXPECT_EQ(stHeld, c.stHeld);
    EXPECT_EQ(NT_SUCCESS(stRemoval), c.eRoad == Road::PlainRemove) << "the start fails, the plain removal succeeds";
    EXPECT_EQ(this->fdo(), nullptr) << "removed";
    // A handle open across the removal: the I/O manager refuses what it
    // sends later, and its close reaches nothing.
    if (c.eKind != Kind::Create && c.eKind != Kind::Cleanup && c.eKind != Kind::Close) {
        cLines = this->log().total();
        EXPECT_EQ(request(c.eKind, 1 - c.iChan, hOther, bRefused), STATUS_DELETE_PENDING);
        EXPECT_EQ(this->close(hOther), STATUS_SUCCESS);
        EXPECT_EQ(this->log().total(), cLines) << "a request after the removal reached the driver";
    }
    EXPECT_TRUE(k.problems().empty()) << ::testing::PrintToString(k.problems());
}

class UsbRemovalRaceTest : public RemovalRaceTest<drvtest::DriverTest> {
protected:
    void plugAndAddFor(Road eRoad) override
    {
        plugAndAdd();
        if (eRoad == Road::FailedFirstStart) {
            pdev->failUrb(usbstub::UrbKind::SelectConfiguration);
        } else {
            ASSERT_EQ(start(), STATUS_SUCCESS);
        }
    }
    std::string rest(int iChan) const override { return "\\qir\\" + std::to_string(iChan); }
    std::vector<char> control() const override { return drvtest::qirWrite(3, 1); }
    std::string signature() const override { return ykQir._puDd[0]._pup->szProto(); }
};

TEST_P(UsbRemovalRaceTest, RemovalWaitsForTheRequestInside)
{
    run();
}

INSTANTIATE_TEST_SUITE_P(Cases, UsbRemovalRaceTest, ::testing::ValuesIn(usbRaces()),
                         [](const ::testing::TestParamInfo<RemovalRace>& i) { return nameOf(i.param); });

class PciRemovalRaceTest : public RemovalRaceTest<drvtest::PciTest> {
protected:
    void plugAndAddFor(Road eRoad) override
    {
        pcistub::PciProps props;
        props.fInterrupt = eRoad != Road::FailedFirstStart;
        plugAndAdd(props);
        if (eRoad == Road::PlainRemove) {
            ASSERT_EQ(start(), STATUS_SUCCESS);
        }
    }
    std::string rest(int iChan) const override { return "\\pio\\" + std::to_string(iChan); }
    std::vector<char> control() const override
    {
        drvtest::PioWrite w(1, 2);
        const char* pch = reinterpret_cast<const char*>(&w);
        return std::vector<char>(pch, pch + sizeof w);
    }
    std::string signature() const override { return "pio 1 rw"; }
};

TEST_P(PciRemovalRaceTest, RemovalWaitsForTheRequestInside)
{
    run();
}

INSTANTIATE_TEST_SUITE_P(Cases, PciRemovalRaceTest, ::testing::ValuesIn(pciRaces()),
                         [](const ::testing::TestParamInfo<RemovalRace>& i) { return nameOf(i.param); });

// A cancel routine that has completed its request: the caller's wait ends,
// its handle may be closed and the board removed before the routine
// returns. The routine touches the board no more.
class PciCancelTest : public drvtest::PciTest {};

TEST_F(PciCancelTest, RoutineTouchesNothingOnceItCompletedTheRequest)
{
    plugAndLoad();
    HANDLE h = openOk();
    Bufs b;
    drvtest::AsyncIoctl get(h, IOCTL_YEK_GET, &b.get());
    ASSERT_TRUE(waitPended(1));
    PIRP pIrp = card()->_mpChan[0].pIrp();
    ASSERT_NE(pIrp, nullptr);
    drvtest::PointHold hold(eWmPointBusCancelled);
    JoiningThread tCancel([pIrp] { IoCancelIrp(pIrp); }, [&] { hold.release(); });
    ASSERT_TRUE(hold.waitHeld());
    EXPECT_EQ(get.result(), STATUS_CANCELLED);
    EXPECT_EQ(close(h), STATUS_SUCCESS);
    EXPECT_EQ(k().pnp().remove(pdev->pdo()), STATUS_SUCCESS);
    ASSERT_EQ(fdo(), nullptr) << "removed and deleted";
    uint64_t cLines = log().total();
    hold.release();
    tCancel.join();
    EXPECT_EQ(log().total(), cLines) << "the cancel routine logged through the board after its removal";
}

}  // namespace
