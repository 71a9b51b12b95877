import './style.css';
import { pageStateClient } from '@quillbeat/page-client';
import { mountNotes } from './notes';
import { createPlayheadDisplay, type PlayheadDisplay } from './playheadDisplay';
import { mountTransportView } from './view';

declare global {
  interface Window {
    /** The page's play head for scripts: predict(pageTimeMs?), setSmooth(on), smooth(). */
    quillbeatPlayhead?: Pick<PlayheadDisplay, 'predict' | 'setSmooth' | 'smooth' | 'animating'>;
  }
}

const root = document.getElementById('app');

if (root !== null) {
  const view = mountTransportView(root);
  const display = createPlayheadDisplay(view);
  mountNotes(root, pageStateClient());
  window.quillbeatPlayhead = {
    predict: (pageTimeMs) => display.predict(pageTimeMs),
    setSmooth: (on) => display.setSmooth(on),
    smooth: () => display.smooth(),
    animating: () => display.animating(),
  };
}
