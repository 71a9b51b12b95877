#include "NoPagePage.h"

namespace quillbeat
{

namespace
{
    juce::String escapedForHtml (const juce::String& text)
    {
        return text.replace ("&", "&amp;")
            .replace ("<", "&lt;")
            .replace (">", "&gt;")
            .replace ("\"", "&quot;")
            .replace ("'", "&#39;");
    }
} // namespace

juce::String noPagePageHtml (const juce::File& webRoot)
{
    return juce::String (R"html(<!doctype html>
<html lang="en"><head>
<meta charset="utf-8">
<title>Quillbeat: no page yet</title>
<style>
  html { background: #0f0f1a; color: #d8d8e4; font: 15px/1.5 system-ui, sans-serif; }
  main { max-width: 36rem; margin: 3rem auto; padding: 0 1.5rem; }
  h1 { font-size: 1.3rem; color: #fff; }
  code { background: #1d1d30; padding: 0.1rem 0.35rem; border-radius: 3px; word-break: break-all; }
  li { margin: 0.6rem 0; }
  .quiet { color: #8a8aa0; }
</style>
</head><body>
<main id="quillbeat-no-page">
<h1>Quillbeat has no page to show yet</h1>
<p>This window shows a web page of your choice. To give it one, either:</p>
<ul>
<li>install a built page: put its <code>index.html</code> and the rest of its files in
<code id="quillbeat-web-folder">)html")
           + escapedForHtml (webRoot.getFullPathName())
           + R"html(</code>, then close and reopen this window; or</li>
<li>start a development server for your page on <code>http://127.0.0.1:5173</code>
(<code>npm run dev</code> in a page project). This window switches to it as soon as it
answers, and comes back here when it stops.</li>
</ul>
<p class="quiet">A starter project and the page authors' reference come with Quillbeat's sources
(<code>npm run new-page -- my-page</code> in its <code>web</code> folder).</p>
</main>
</body></html>
)html";
}

} // namespace quillbeat
