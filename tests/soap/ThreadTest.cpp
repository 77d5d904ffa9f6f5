// Writers and readers on several threads at once, each with its own documents, as the poll
// threads of several groups use them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "xmlda/VelqorSOAPCallIO.h"

using namespace velqor;
using namespace velqor::xmlda;

TEST(SoapThreads, IndependentExchangesRunSideBySide) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 50; ++round) {
                try {
                    // Write a reply-shaped record with the plain writer, read it back.
                    SubscriptionPolledRefreshResponse out;
                    out.RItemList.push_back(
                        std::make_unique<SubscribePolledRefreshReplyItemList>());
                    out.RItemList[0]->SubscriptionHandle = std::to_string(t);
                    for (int i = 0; i < 20; ++i) {
                        auto v = std::make_unique<ItemValue>();
                        v->ClientItemHandle = std::to_string(i);
                        v->Value = Variant::I4(t * 1000 + i);
                        v->Timestamp = EncodeDateTime(2026, 1, 1, 0, 0, i);
                        out.RItemList[0]->Items.push_back(std::move(v));
                    }
                    TVelqorSOAPWriter w;
                    w.BeginMessage(kXmlDaNamespace, "SubscriptionPolledRefreshResponse");
                    w.WriteRecord("", {}, out);
                    std::string xml = w.SaveToString();
                    TVelqorSoapReader r;
                    r.Parse(xml);
                    SubscriptionPolledRefreshResponse in;
                    r.ReadRecord(r.ResultElement, in);
                    if (in.RItemList.at(0)->SubscriptionHandle != std::to_string(t) ||
                        in.RItemList[0]->Items.size() != 20 ||
                        in.RItemList[0]->Items[19]->Value != Variant::I4(t * 1000 + 19))
                        ++failures;
                } catch (const std::exception&) {
                    ++failures;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}
