// A page for Quillbeat's editor: the host's transport, its bar, beat and
// tick, and one value kept with the host's project.
import {
  createSmoothPlayhead,
  formatBarsBeatsTicks,
  getPageStateJson,
  onPageStateLoadedJson,
  setPageStateJson,
  subscribeTransport,
} from '@quillbeat/page-client';
import './style.css';

const transport = document.querySelector<HTMLElement>('#transport')!;
const position = document.querySelector<HTMLOutputElement>('#position')!;
const title = document.querySelector<HTMLInputElement>('#title')!;
const status = document.querySelector<HTMLElement>('#status')!;

// Four readings a second while the editor is open.
subscribeTransport((state) => {
  const t = state.transport;
  if (!state.nativeBridge) {
    transport.textContent = "Not inside Quillbeat: open the plug-in's editor to see the host's transport.";
  } else if (t === null || !t.connected) {
    transport.textContent = 'Waiting for the host…';
  } else {
    const what = t.recording ? 'Recording' : t.playing ? 'Playing' : 'Stopped';
    transport.textContent = `${what} · ${t.bpm.toFixed(1)} bpm · ${t.timeSigNum}/${t.timeSigDen} · ${t.positionFormatted}`;
  }
});

// Bar, beat and tick at every frame while the host plays, predicted between
// its readings; no frames while it is stopped or the page is hidden.
createSmoothPlayhead({
  onFrame(frame) {
    position.value = frame.musical === null ? '—' : formatBarsBeatsTicks(frame.musical);
  },
});

// The page's state is one text the plug-in saves with the project; this page
// keeps {"title": ...} in it.
interface Saved {
  title?: string;
}

const show = (saved: Saved | null): void => {
  title.value = saved?.title ?? '';
};

getPageStateJson<Saved>().then(
  (saved) => {
    show(saved);
    title.disabled = false;
  },
  (e: Error) => {
    status.textContent = `The title cannot be kept: ${e.message}`;
  },
);

title.addEventListener('change', () => {
  setPageStateJson({ title: title.value } satisfies Saved).then(
    () => (status.textContent = 'Saved with the project'),
    (e: Error) => (status.textContent = `Not saved: ${e.message}`),
  );
});

// The host loaded a project (or undid, or picked a preset) while the page was open.
onPageStateLoadedJson<Saved>(show);
