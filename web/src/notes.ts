// The project's notes: a text field the page keeps in the host's project
// through its page state ({"notes": "..."}; other keys are kept as found).
// Typing saves once the typing pauses, opening the editor shows the notes
// again, and a project the host loads replaces them. Idle, it runs nothing.

import type { PageStateClient } from '@quillbeat/page-client';

/** How long typing must pause before the notes are saved. */
export const NOTES_SAVE_DELAY_MS = 400;

type StoredPage = Record<string, unknown>;

export interface NotesField {
  /** Saves typed notes now instead of after the pause. */
  flush(): Promise<void>;
}

const TEMPLATE = `
<label class="label" for="notes-text">Notes</label>
<textarea id="notes-text" rows="2" spellcheck="false" placeholder="Notes kept with this project" disabled></textarea>
<span class="note" id="notes-status"></span>
`;

/** The stored page state as an object; anything else reads as none. */
function readStored(text: string): StoredPage {
  try {
    const value: unknown = JSON.parse(text);
    return typeof value === 'object' && value !== null && !Array.isArray(value) ? (value as StoredPage) : {};
  } catch {
    return {};
  }
}

/** Adds the notes field to `root` and keeps it in the project through `client`. */
export function mountNotes(root: HTMLElement, client: PageStateClient, saveDelayMs = NOTES_SAVE_DELAY_MS): NotesField {
  const section = document.createElement('section');
  section.className = 'notes';
  section.innerHTML = TEMPLATE;
  root.append(section);

  const field = section.querySelector('textarea') as HTMLTextAreaElement;
  const status = section.querySelector('#notes-status') as HTMLElement;
  let stored: StoredPage = {};
  let timer: ReturnType<typeof setTimeout> | undefined;

  const say = (text: string, problem = false): void => {
    status.textContent = text;
    status.classList.toggle('problem', problem);
  };

  const show = (text: string): void => {
    clearTimeout(timer);
    timer = undefined;
    stored = readStored(text);
    field.value = typeof stored.notes === 'string' ? stored.notes : '';
  };

  async function save(): Promise<void> {
    clearTimeout(timer);
    timer = undefined;
    if (field.value === stored.notes || (field.value === '' && stored.notes === undefined)) return;
    const next = { ...stored, notes: field.value };
    try {
      await client.setPageStateJson(next);
      stored = next;
      say('Saved with the project');
    } catch (e) {
      say(`Not saved: ${e instanceof Error ? e.message : String(e)}`, true);
    }
  }

  field.addEventListener('input', () => {
    say('Saving\u2026');
    clearTimeout(timer);
    timer = setTimeout(() => void save(), saveDelayMs);
  });
  // Leaving the field saves at once, so closing the window right after typing loses nothing.
  field.addEventListener('blur', () => {
    if (timer !== undefined) void save();
  });

  client.onPageStateLoaded((text) => {
    show(text);
    say('Loaded from the project');
  });

  client.getPageState().then(
    (text) => {
      show(text);
      field.disabled = false;
      say('Kept with the project');
    },
    () => say('Notes are kept only inside the plug-in'),
  );

  return { flush: save };
}
