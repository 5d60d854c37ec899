// The forms under More, for what the tree does not cover: one stream of
// several nodes at once, with an editor for each, and making and
// destroying a node by its identifier. What they make or destroy in a
// folder the tree has loaded shows there at once.
import { getMetadata, setMetadata } from './gateway.js';
import { createNode, destroyNode } from './nodes.js';
import { code, onSubmit, runAction } from './status.js';
import { rowsFor } from './details.js';

const $ = (id) => document.getElementById(id);
const field = (id) => $(id).value.trim();

// The identifiers in a comma-separated list, blanks around them dropped.
export const nodeList = (text) => text.split(',').map((s) => s.trim()).filter((s) => s !== '');

let cardCount = 0;

function nodeCard(host, id, stream, text) {
  const card = $('node-card').content.firstElementChild.cloneNode(true);
  card.querySelector('.node-id').textContent = id;
  card.querySelector('.node-host').textContent = `${stream} on ${host}`;
  const textarea = card.querySelector('textarea');
  const label = card.querySelector('label');
  textarea.id = `metadata-${++cardCount}`;
  label.htmlFor = textarea.id;
  label.textContent = `Metadata of ${id}`;
  textarea.value = text;
  textarea.rows = rowsFor(text);
  card.querySelector('form').addEventListener('submit', (event) => {
    event.preventDefault();
    runAction(event.currentTarget, async () => {
      await setMetadata(host, id, stream, textarea.value);
      return ['Saved.'];
    });
  });
  return card;
}

// Sets up the forms for the tree of server (server.js), remembering each
// read in prefs (prefs.js).
export function setUpForms(server, prefs) {
  onSubmit($('read-form'), async () => {
    const host = field('host');
    const nodesText = $('nodes').value;
    const ids = nodeList(nodesText);
    const stream = field('stream');
    const texts = await getMetadata(host, ids, stream, 'The gateway\'s answer did not list the nodes asked for.');
    $('results').replaceChildren(...ids.map((id, i) => nodeCard(host, id, stream, texts[i])));
    if ($('create-parent').value === '') $('create-parent').value = ids[0];
    prefs.read(host, nodesText.trim(), stream);
    return [ids.length === 1 ? 'Read 1 node.' : `Read ${ids.length} nodes.`];
  });

  onSubmit($('create-form'), () => createNode(server, {
    host: field('host'), parentId: field('create-parent'), displayName: $('create-name').value, type: field('create-type'),
  }));

  $('destroy-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const host = field('host');
    const id = field('destroy-node');
    const recursive = $('destroy-recursive').checked;
    const under = recursive ? ' and every node under it on ' : ' on ';
    destroyNode(event.currentTarget, server, { host, id, recursive },
      async () => ['Destroy ', code(id), under, code(host), '?']);
  });
}
