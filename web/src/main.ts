import './style.css';
import './analysis.css';
import { pageAnalysisClient, pageStateClient, pageTransportBridge } from '@quillbeat/page-client';
import { mountAnalysisDisplay, type AnalysisDisplay } from './analysisDisplay';
import { mountNotes } from './notes';
import { createPlayheadDisplay, type PlayheadDisplay } from './playheadDisplay';
import { mountTransportView } from './view';

declare global {
  interface Window {
    /** The page's play head for scripts: predict(pageTimeMs?), setSmooth(on), smooth(). */
    quillbeatPlayhead?: Pick<PlayheadDisplay, 'predict' | 'setSmooth' | 'smooth' | 'animating'>;
    /** The page's sound display for scripts: draws(), animating(), status(). */
    quillbeatAnalysis?: Pick<AnalysisDisplay, 'draws' | 'animating' | 'status'>;
  }
}

const root = document.getElementById('app');

if (root !== null) {
  const view = mountTransportView(root);
  const display = createPlayheadDisplay(view);
  const analysis = mountAnalysisDisplay(root, { client: pageAnalysisClient(), bridge: pageTransportBridge() });
  mountNotes(root, pageStateClient());
  window.quillbeatPlayhead = {
    predict: (pageTimeMs) => display.predict(pageTimeMs),
    setSmooth: (on) => display.setSmooth(on),
    smooth: () => display.smooth(),
    animating: () => display.animating(),
  };
  window.quillbeatAnalysis = {
    draws: () => analysis.draws(),
    animating: () => analysis.animating(),
    status: () => analysis.status(),
  };
}
