// SPDX-License-Identifier: MIT
// Identified documents: AddIDToNode and CreateXMLWithID over fake adapters,
// and on the real machine against what ethtool reports, including a fresh
// network namespace whose adapters carry no permanent address.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/net/adapter_source.h"
#include "support/adapters.h"
#include "support/private_access.h"
#include "support/test_util.h"
#include "xmlutil/XMLUtil.h"

namespace {

using xmlutil::test::FakeAdapters;
using xmlutil::test::InstalledAdapters;
using xmlutil::test::XmlTest;

// Attribute names and values of a node, as "name=value" entries in order.
std::vector<std::wstring> Attributes(CXMLUtil& util, CComPtr<IXMLDOMNode> node) {
    std::vector<std::wstring> names, values, joined;
    EXPECT_HR(util.GetNodeAttrs(node, names, values), S_OK);
    for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
        joined.push_back(names[i] + L"=" + values[i]);
    }
    return joined;
}

std::wstring IdOf(CXMLUtil& util, CComPtr<IXMLDOMNode> node) {
    std::wstring id = L"(unset)";
    EXPECT_HR(util.GetNodeAttr(node, L"ID", id), S_OK);
    return id;
}

std::vector<CComPtr<IXMLDOMNode>> TopLevelNodes(CXMLUtil& util) {
    std::vector<CComPtr<IXMLDOMNode>> nodes;
    CComPtr<IXMLDOMDocument> doc = util.GetDomDocument();
    EXPECT_NE(doc, nullptr);
    if (doc) {
        EXPECT_HR(util.GetChildNodes(CComPtr<IXMLDOMNode>(doc.p), nodes), S_OK);
    }
    return nodes;
}

DOMNodeType TypeOf(CComPtr<IXMLDOMNode> node) {
    DOMNodeType type = NODE_INVALID;
    EXPECT_HR(node->get_nodeType(&type), S_OK);
    return type;
}

std::wstring SerialisedDocument(CXMLUtil& util) {
    std::wstring xml;
    EXPECT_HR(util.GetXML(xml), S_OK);
    return xml;
}

// Checks that `util` holds exactly the declaration and `root`, an empty Root
// element whose single attribute is ID = `id`.
void ExpectIdentifiedDocument(CXMLUtil& util, CComPtr<IXMLDOMNode> root, const std::wstring& id) {
    ASSERT_NE(root, nullptr);
    std::vector<CComPtr<IXMLDOMNode>> top = TopLevelNodes(util);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(TypeOf(top[0]), NODE_PROCESSING_INSTRUCTION);
    std::wstring target, data;
    EXPECT_HR(util.GetNodeValue(top[0], target, data), S_OK);
    EXPECT_EQ(target, L"xml");
    EXPECT_TRUE(top[1].IsEqualObject(root));
    std::wstring name, text = L"(unset)";
    EXPECT_HR(util.GetNodeValue(root, name, text), S_OK);
    EXPECT_EQ(name, L"Root");
    EXPECT_EQ(text, L"");
    EXPECT_EQ(Attributes(util, root), std::vector<std::wstring>{L"ID=" + id});
}

// Documents loaded from markup, stamped over fake adapters.
class IdentityStamp : public XmlTest {};

// ---- CreateXMLWithID ----------------------------------------------------------

TEST(CreateXMLWithID, StartsAFreshDocumentWithTheDeclarationAndAStampedRoot) {
    FakeAdapters fake;
    fake.Answer({"00:1A:2B:3C:4D:5F", "00:1A:2B:3C:4D:5E"});
    InstalledAdapters installed(fake);
    CXMLUtil util;
    CComPtr<IXMLDOMNode> root = util.CreateXMLWithID();
    ASSERT_NO_FATAL_FAILURE(ExpectIdentifiedDocument(util, root, L"Win32_001A2B3C4D5E"));
    EXPECT_EQ(util.IsError(), 0);

    // The stamped document reads back the same from its serialised form.
    CXMLUtil reread;
    ASSERT_HR(reread.LoadXML(SerialisedDocument(util).c_str()), S_OK);
    std::wstring id;
    EXPECT_HR(reread.GetNodeAttr(L"/Root", L"ID", id), S_OK);
    EXPECT_EQ(id, L"Win32_001A2B3C4D5E");
}

TEST(CreateXMLWithID, IdentityFallsBackWhenAdaptersGiveNothing) {
    FakeAdapters unavailable;
    unavailable.listAvailable = false;
    FakeAdapters silent;
    silent.AddFailing("eth0");
    silent.Answer({"00:00:00:00:00:00"});
    const std::pair<FakeAdapters*, const wchar_t*> cases[] = {
        {&unavailable, L"Win32_"},
        {&silent, L"Win32_000000000000"},
    };
    for (const auto& [fake, expected] : cases) {
        SCOPED_TRACE(testing::Message() << expected);
        InstalledAdapters installed(*fake);
        CXMLUtil util;
        CComPtr<IXMLDOMNode> root = util.CreateXMLWithID();
        ASSERT_NO_FATAL_FAILURE(ExpectIdentifiedDocument(util, root, expected));
        EXPECT_EQ(util.IsError(), 0);
    }
}

TEST_F(IdentityStamp, CreateXMLWithIDRefusesADocumentThatAlreadyHasContent) {
    FakeAdapters fake;
    fake.Answer({"00:00:00:00:00:01"});
    InstalledAdapters installed(fake);
    ASSERT_NO_FATAL_FAILURE(Load(L"<Root><a/></Root>"));
    const std::wstring before = SerialisedDocument(util);

    EXPECT_EQ(util.CreateXMLWithID(), nullptr);
    EXPECT_EQ(util.IsError(), 1);
    EXPECT_NE(CXMLUtilTestAccess::RecordedResult(util), S_OK);
    EXPECT_EQ(SerialisedDocument(util), before);

    // A second call on a document it has already started is refused the same way.
    CXMLUtil fresh;
    ASSERT_NE(fresh.CreateXMLWithID(), nullptr);
    const std::wstring started = SerialisedDocument(fresh);
    EXPECT_EQ(fresh.CreateXMLWithID(), nullptr);
    EXPECT_EQ(fresh.IsError(), 1);
    EXPECT_EQ(SerialisedDocument(fresh), started);
    EXPECT_EQ(TopLevelNodes(fresh).size(), 2u);
}

// ---- AddIDToNode ------------------------------------------------------------------

TEST_F(IdentityStamp, AddIDToNodeReplacesAnExistingIdAndAsksTheAdaptersAgain) {
    FakeAdapters fake;
    fake.Answer({"00:00:00:00:00:0A"});
    InstalledAdapters installed(fake);
    ASSERT_NO_FATAL_FAILURE(Load(L"<r><e a=\"1\" ID=\"old\" z=\"2\"/><f/></r>"));
    CComPtr<IXMLDOMNode> e = Node(L"/r/e");
    CComPtr<IXMLDOMNode> f = Node(L"/r/f");

    EXPECT_HR(util.AddIDToNode(e), S_OK);
    std::vector<std::wstring> attributes = Attributes(util, e);
    EXPECT_EQ(attributes.size(), 3u);
    EXPECT_EQ(std::count(attributes.begin(), attributes.end(), L"ID=Win32_00000000000A"), 1);
    EXPECT_EQ(std::count(attributes.begin(), attributes.end(), L"a=1"), 1);
    EXPECT_EQ(std::count(attributes.begin(), attributes.end(), L"z=2"), 1);

    // Two elements of one document get the same identity.
    EXPECT_HR(util.AddIDToNode(f), S_OK);
    EXPECT_EQ(IdOf(util, f), L"Win32_00000000000A");

    // Stamping again after the adapters changed: still one ID, the new value.
    fake.Answer({"00:00:00:00:00:02"});
    EXPECT_HR(util.AddIDToNode(e), S_OK);
    EXPECT_EQ(IdOf(util, e), L"Win32_000000000002");
    EXPECT_EQ(Attributes(util, e).size(), 3u);
    EXPECT_EQ(fake.listCalls, 3);
}

TEST_F(IdentityStamp, AddIDToNodeWithoutAnAdapterListStampsThePrefixAlone) {
    FakeAdapters unavailable;
    unavailable.listAvailable = false;
    InstalledAdapters installed(unavailable);
    ASSERT_NO_FATAL_FAILURE(Load(L"<r/>"));
    CComPtr<IXMLDOMNode> r = Node(L"/r");
    EXPECT_HR(util.AddIDToNode(r), S_OK);
    EXPECT_EQ(util.IsError(), 0);
    EXPECT_EQ(IdOf(util, r), L"Win32_");
}

TEST_F(IdentityStamp, AddIDToNodeFailsOnNodesThatCannotCarryAttributes) {
    FakeAdapters fake;
    fake.Answer({"00:00:00:00:00:01"});
    InstalledAdapters installed(fake);
    ASSERT_NO_FATAL_FAILURE(Load(L"<r>text<!--note--></r>"));
    const std::wstring before = SerialisedDocument(util);
    for (const wchar_t* path : {L"/r/text()", L"/r/comment()"}) {
        SCOPED_TRACE(testing::Message() << path);
        EXPECT_HR(util.AddIDToNode(Node(path)), S_FALSE);
        EXPECT_HR(CXMLUtilTestAccess::RecordedResult(util), S_FALSE);
        EXPECT_EQ(util.IsError(), 1);
    }
    EXPECT_EQ(SerialisedDocument(util), before);
}

// ---- the real machine ---------------------------------------------------------------

// The identity ethtool implies: "Win32_" and the lowest non-zero permanent
// address over every interface, or twelve zeros when none has one.
std::wstring IdentityFromEthtool() {
    std::string lowest;
    for (const std::string& name : xmlutil::test::SysfsInterfaces()) {
        std::string address = xmlutil::test::EthtoolPermanentAddress(name);
        // Equal-length upper-case hex compares as the numbers do.
        if (!address.empty() && (lowest.empty() || address < lowest)) lowest = address;
    }
    if (lowest.empty()) lowest = std::string(12, '0');
    return L"Win32_" + std::wstring(lowest.begin(), lowest.end());
}

TEST(RealMachine, CreateXMLWithIDCarriesTheLowestPermanentAddressEthtoolReports) {
    if (!xmlutil::test::EthtoolInstalled()) {
        GTEST_SKIP() << "ethtool is not installed (scripts/deps.sh installs it)";
    }
    if (xmlutil::test::SysfsInterfaces().empty()) {
        GTEST_SKIP() << "/sys/class/net cannot be read here";
    }
    CXMLUtil util;
    CComPtr<IXMLDOMNode> root = util.CreateXMLWithID();
    ASSERT_NO_FATAL_FAILURE(ExpectIdentifiedDocument(util, root, IdentityFromEthtool()));
    EXPECT_EQ(util.IsError(), 0);
}

bool RunQuietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A network namespace made with `ip netns`, deleted with its interfaces when
// the object goes away. name() is empty when it could not be made.
class NetworkNamespace {
  public:
    NetworkNamespace()
        : name_("xmlutil_identity_" + std::to_string(getpid()) + "_" + std::to_string(++count_)) {
        if (!RunQuietly("ip netns add " + name_)) name_.clear();
    }
    ~NetworkNamespace() {
        if (!name_.empty()) RunQuietly("ip netns delete " + name_);
    }
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    const std::string& name() const { return name_; }

    // Adds a virtual interface that has no permanent address: a dummy one,
    // or an ifb one where the kernel lacks the dummy driver. Returns its
    // name, or "" when neither can be made.
    std::string AddVirtualInterface() {
        if (RunQuietly("ip -n " + name_ + " link add d0 type dummy")) return "d0";
        if (RunQuietly("ip -n " + name_ + " link add i0 type ifb")) return "i0";
        return "";
    }

    // Runs `work` in a child process that has joined the namespace and hands
    // back what it returned, or a line starting with "error:".
    std::string RunInside(const std::function<std::string()>& work) const {
        int nsFd = open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
        if (nsFd < 0) return "error: cannot open the namespace";
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            close(nsFd);
            return "error: no pipe";
        }
        pid_t child = fork();
        if (child == 0) {
            close(fds[0]);
            std::string out = setns(nsFd, CLONE_NEWNET) == 0 ? work() : "error: setns failed";
            ssize_t ignored = write(fds[1], out.data(), out.size());
            static_cast<void>(ignored);
            _exit(0);
        }
        close(nsFd);
        close(fds[1]);
        std::string out;
        char chunk[256];
        ssize_t got;
        while ((got = read(fds[0], chunk, sizeof chunk)) > 0) out.append(chunk, got);
        close(fds[0]);
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
            return "error: the child process did not finish";
        }
        return out;
    }

  private:
    static inline int count_ = 0;
    std::string name_;
};

// What a document object sees inside the namespace: its interfaces (sorted,
// comma-terminated), the ID CreateXMLWithID stamps, and IsError() afterwards.
std::string IdentityInside(const NetworkNamespace& ns) {
    return ns.RunInside([] {
        std::vector<std::string> names;
        if (!xmlutil::net::KernelAdapterSource().ListAdapters(names)) return std::string("no list");
        std::sort(names.begin(), names.end());
        std::string out;
        for (const std::string& n : names) out += n + ",";
        CXMLUtil util;
        CComPtr<IXMLDOMNode> root = util.CreateXMLWithID();
        std::wstring id = L"(no root)";
        if (root) util.GetNodeAttr(root, L"ID", id);
        out += "|" + std::string(id.begin(), id.end());
        out += "|" + std::to_string(util.IsError());
        return out;
    });
}

// Skips the current test when namespaces cannot be made here.
#define SKIP_WITHOUT_NAMESPACE(ns)                                                          \
    do {                                                                                    \
        if (!RunQuietly("command -v ip")) GTEST_SKIP() << "ip (iproute2) is not installed"; \
        if ((ns).name().empty()) {                                                          \
            GTEST_SKIP() << "cannot create a network namespace here (needs root and "       \
                            "network namespace support)";                                   \
        }                                                                                   \
    } while (false)

TEST(RealMachine, AFreshNetworkNamespaceGivesTwelveZeros) {
    NetworkNamespace ns;
    SKIP_WITHOUT_NAMESPACE(ns);
    std::string extra = ns.AddVirtualInterface();
    if (extra.empty()) {
        GTEST_SKIP() << "cannot add a dummy or ifb interface in a network namespace here";
    }
    // Only loopback and the new interface exist there; neither has a
    // permanent address, so the identity is twelve zeros and no error.
    const std::string interfaces = extra < "lo" ? extra + ",lo," : "lo," + extra + ",";
    EXPECT_EQ(IdentityInside(ns), interfaces + "|Win32_000000000000|0");
}

TEST(RealMachine, ACurrentAddressSetInSoftwareIsNotTheIdentity) {
    NetworkNamespace ns;
    SKIP_WITHOUT_NAMESPACE(ns);
    // A veth pair has no permanent address; one end gets a low current address.
    if (!RunQuietly("ip -n " + ns.name() +
                    " link add v0 address 02:00:00:00:00:01 type veth peer name v1")) {
        GTEST_SKIP() << "cannot add a veth pair with a chosen address in a network namespace here";
    }
    EXPECT_EQ(IdentityInside(ns), "lo,v0,v1,|Win32_000000000000|0");
}

}  // namespace
