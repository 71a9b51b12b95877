import './style.css';
import { subscribeTransport } from './bridge';
import { mountTransportView } from './view';

const root = document.getElementById('app');

if (root !== null) {
  const view = mountTransportView(root);
  subscribeTransport((state) => view.update(state));
}
