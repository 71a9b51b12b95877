#include "EditorFixture.h"

namespace
{
// Stands in for the page bundle's development server: answers every request
// on 127.0.0.1:5173 with one small page.
class FakeDevServer : private juce::Thread
{
public:
    FakeDevServer() : juce::Thread ("fake dev server")
    {
        listening = socket.createListener (5173, "127.0.0.1");
        if (listening)
            startThread();
    }

    ~FakeDevServer() override
    {
        signalThreadShouldExit();
        socket.close();
        stopThread (2000);
    }

    bool listening = false;

private:
    void run() override
    {
        while (! threadShouldExit())
        {
            std::unique_ptr<juce::StreamingSocket> client (socket.waitForNextConnection());

            if (client == nullptr)
                return;

            // The editor's own checks connect and close without a request.
            char request[4096];
            if (client->read (request, sizeof (request), false) <= 0)
                continue;

            const juce::String body = "<!doctype html><body>dev server page</body>";
            const auto response = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: "
                                + juce::String (body.getNumBytesAsUTF8()) + "\r\n\r\n" + body;
            client->write (response.toRawUTF8(), (int) response.getNumBytesAsUTF8());
        }
    }

    juce::StreamingSocket socket;
};

bool portIsFree (int port)
{
    juce::StreamingSocket probe;
    return probe.createListener (port, "127.0.0.1");
}

const juce::String noPagePageShows = "document.getElementById ('quillbeat-no-page') !== null";
const juce::String devServerPageShows = "document.body && document.body.textContent === 'dev server page'";

// An editor opened with neither an installed page nor a development server.
class WithoutAPage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (portIsFree (5173)) << "port 5173 is taken";
        webRoot().deleteRecursively();

        editor = std::make_unique<OpenEditor> (processor);
        view = (*editor)->getWebView();
        ASSERT_NE (view, nullptr);

        // The plug-in's own page instead of the engine's error text.
        ASSERT_TRUE (pageBecomes (*view, noPagePageShows, 15000));
    }

    QuillbeatProcessor processor;
    std::unique_ptr<OpenEditor> editor;
    juce::WebBrowserComponent* view = nullptr;
};

TEST_F (WithoutAPage, TheViewSaysWhatToDoAndShowsAPageInstalledMeanwhile)
{
    EXPECT_EQ (evaluateInPage (*view, "window.location.href").value_or (juce::var()).toString(),
               juce::WebBrowserComponent::getResourceProviderRoot());
    EXPECT_EQ (evaluateInPage (*view, "document.getElementById ('quillbeat-web-folder').textContent")
                   .value_or (juce::var())
                   .toString(),
               webRoot().getFullPathName());

    // A page installed meanwhile shows without reopening the window.
    installTestPage();
    EXPECT_TRUE (pageBecomes (*view, "document.body && document.body.textContent.trim() === 'test page'", 15000));
}

TEST_F (WithoutAPage, TheViewFollowsADevServerThatStartsStopsAndComesBack)
{
    for (int round = 0; round < 2; ++round)
    {
        {
            FakeDevServer server;
            ASSERT_TRUE (server.listening);
            EXPECT_TRUE (pageBecomes (*view, devServerPageShows, 15000)) << "round " << round;
            EXPECT_TRUE ((bool) evaluateInPage (*view, "window.__juceConnected === true").value_or (false));
        }

        EXPECT_TRUE (pageBecomes (*view, noPagePageShows, 15000)) << "round " << round;
    }
}

TEST (DevServer, WithoutAnInstalledPageTheViewOpensTheDevelopmentServer)
{
    FakeDevServer server;
    ASSERT_TRUE (server.listening) << "port 5173 is taken";

    // Page files without index.html, and a folder of that name, count as no installed page.
    const auto root = webRoot();
    root.deleteRecursively();
    ASSERT_TRUE (root.getChildFile ("assets").createDirectory());
    ASSERT_TRUE (root.getChildFile ("index.html").createDirectory());
    ASSERT_TRUE (root.getChildFile ("app.js").replaceWithText ("// not a start page"));

    QuillbeatProcessor processor;
    OpenEditor editor (processor);
    auto* view = editor->getWebView();
    ASSERT_NE (view, nullptr);

    EXPECT_TRUE (pageBecomes (*view, devServerPageShows, 15000));
    EXPECT_EQ (evaluateInPage (*view, "window.location.href").value_or (juce::var()).toString(), "http://127.0.0.1:5173/");
    EXPECT_TRUE ((bool) evaluateInPage (*view, "window.__juceConnected === true").value_or (false));
}
} // namespace
